// The sized edition: the show drawn at the size that keeps it smooth on this
// machine, on a few fixed steps, and held there by the frames' times. Plain
// arithmetic: no page, no browser.
//
// The steps are the show's 16:9 at these heights, from the floor up to the
// picture's own size in device pixels (the window's, or the screen's in full
// screen), that size itself where it falls between steps, and then that top
// size again with four rays a pixel. Neighbouring steps differ by 1.4 to 1.8
// times the work, so that one step down always saves enough and one up is
// never too bold.
const HEIGHTS = [180, 216, 270, 360, 432, 540, 720, 900, 1080, 1440, 1800, 2160];
export const FLOOR = { width: 320, height: 180, rays: 1 };

// What a frame costs: rays traced.
export const work = ({ width, height, rays }) => width * height * rays;

// The steps for a picture shown fitted (16:9, letterboxed) into width x height device pixels.
export function ladder(width, height) {
  const fitted = Math.min(width, (height * 16) / 9);
  const top = { width: 2 * Math.round(fitted / 2), height: 2 * Math.round((fitted * 9) / 32), rays: 1 };
  const steps = HEIGHTS.map((h) => ({ width: (h * 16) / 9, height: h, rays: 1 })).filter((step) => step.height <= top.height);
  if (!steps.length) steps.push(FLOOR); // a window smaller than the floor
  if (steps.at(-1).height < top.height && work(top) > 1.2 * work(steps.at(-1))) steps.push(top);
  return [...steps, { ...steps.at(-1), rays: 4 }];
}

// Smooth: 50 frames a second and more. A step is chosen to take no more than
// TARGET_MS (55 frames a second, a little room below the screen's 60); frames
// that take longer than DOWN_MS (45 a second) over a few frames go down at once.
export const TARGET_MS = 1000 / 55;
const DOWN_MS = 1000 / 45;

// The step to start from: the largest whose frame would take at most
// TARGET_MS, from a frame time measured at another size (measured is { ms,
// width, height, rays }); the floor where none would.
export function firstStep(steps, measured) {
  const predicted = (step) => (measured.ms * work(step)) / work(measured);
  const fitting = steps.findLastIndex((step) => predicted(step) <= TARGET_MS);
  return Math.max(fitting, 0);
}

// The time between two changes starts at MIN_HOLD_S and doubles each time a
// change undoes the one before within that time (up then down, or down then
// up), up to MAX_HOLD_S: the size does not flicker. A change more than four
// holds after the last (the scene's cost changed, not the size) halves it again.
const MIN_HOLD_S = 2;
const MAX_HOLD_S = 64;
// Frames just after a change (a new program, a new canvas) do not count.
const SETTLING_FRAMES = 3;
// The frames whose times count: the last few for going down, the last seconds for going up.
const DOWN_FRAMES = 6;
const UP_SECONDS = 2;

// The controller's state at a step: steps (the ladder), at (the step's index).
export function holding(steps, at, now) {
  return { steps, at, changedAt: now, hold: MIN_HOLD_S, lastMove: 0, frames: [], settling: SETTLING_FRAMES };
}

const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];
const quantile = (values, q) => [...values].sort((a, b) => a - b)[Math.min(values.length - 1, Math.floor(q * values.length))];

// One frame drawn (now in seconds): interval, the ms since the frame before,
// which is what the viewer sees, and gpu, the ms the GPU took to draw it where
// the browser says (null where not). Returns the step to draw at next, the
// same index where nothing changes. canUse(index) says whether that step's
// program is built; the controller waits where it is not.
//
// Down as soon as the frames come slower than DOWN_MS, to the largest step
// that would take TARGET_MS by the GPU's times (else by the intervals), at
// least one. Up one step only after holding, where the frames have kept up
// with TARGET_MS for the last seconds and the GPU's times say the next step
// would too; without them (a screen's refresh holds the intervals to its
// period, which shows no room to grow) the step up is tried, and taken back
// where it does not keep up, holding twice as long after.
export function afterFrame(state, { interval, gpu = null }, now, canUse = () => true) {
  if (state.settling > 0) {
    state.settling--;
    return state.at;
  }
  state.frames.push({ interval, gpu, now });
  while (state.frames.length > 1 && now - state.frames[0].now > UP_SECONDS) state.frames.shift();
  const { steps, at, frames } = state;
  const ratio = (index) => work(steps[index]) / work(steps[at]);
  const recent = frames.slice(-DOWN_FRAMES);
  const gpuTimes = frames.every((frame) => frame.gpu !== null);
  if (at > 0 && recent.length === DOWN_FRAMES && median(recent.map((frame) => frame.interval)) > DOWN_MS) {
    const cost = median(recent.map((frame) => (gpuTimes ? frame.gpu : frame.interval)));
    // A step up that did not keep up goes back where it was: the intervals, held
    // to the screen's periods, overstate the cost by up to one period.
    const tried = !gpuTimes && state.lastMove > 0 && now - state.changedAt < state.hold;
    // The largest step built that would take TARGET_MS; where none would, the smallest built.
    let to = null;
    for (let index = at - 1; index >= 0; index--) {
      if (!canUse(index)) continue;
      to = index;
      if (tried || cost * ratio(index) <= TARGET_MS) break;
    }
    return to === null ? at : move(state, to, now);
  }
  const covered = frames.length > 1 && now - frames[0].now >= UP_SECONDS * 0.9;
  if (at + 1 < steps.length && covered && now - state.changedAt >= state.hold && canUse(at + 1)) {
    const keepsUp = quantile(frames.map((frame) => frame.interval), 0.9) <= TARGET_MS;
    const room = !gpuTimes || quantile(frames.map((frame) => frame.gpu), 0.9) * ratio(at + 1) <= TARGET_MS;
    if (keepsUp && room) return move(state, at + 1, now);
  }
  return at;
}

function move(state, to, now) {
  const direction = Math.sign(to - state.at);
  const since = now - state.changedAt;
  if (since < state.hold && state.lastMove && direction !== state.lastMove) state.hold = Math.min(2 * state.hold, MAX_HOLD_S);
  else if (since > 4 * state.hold) state.hold = Math.max(state.hold / 2, MIN_HOLD_S);
  Object.assign(state, { at: to, changedAt: now, lastMove: direction, frames: [], settling: SETTLING_FRAMES });
  return to;
}
