// The sized edition in this window: its steps for the picture's size in
// device pixels (the screen's in full screen), the step it starts from by the
// start screen's measurement, and the programs of the steps near it, built
// ahead so that a change of size never waits for one.
import { WINDOWED, sizeWords } from "./editions.js";
import { frameTimes } from "./measure.js";
import { buildsInParallel, picture, programOf } from "./picture.js";
import { frameRate } from "./plays.js";
import { firstStep, ladder, work } from "./sizes.js";

// The steps for the window as it is now.
export const steps = () => ladder(innerWidth * devicePixelRatio, innerHeight * devicePixelRatio);

// Where the sized edition starts here: { steps, at, ms } (ms: a frame's time
// there at the show's heaviest moments, by the measurement of the windowed
// build; null before it is measured, when it starts at that build's size).
export function plan() {
  const ladderNow = steps();
  const measured = frameTimes[WINDOWED.name];
  if (measured === undefined) {
    const at = Math.max(ladderNow.findLastIndex((step) => work(step) <= work(WINDOWED)), 0);
    return { steps: ladderNow, at, ms: null };
  }
  const at = firstStep(ladderNow, { ...WINDOWED, ms: measured });
  return { steps: ladderNow, at, ms: (measured * work(ladderNow[at])) / work(WINDOWED) };
}

// How the sized edition plays here, in words: "1280 × 720, one ray a pixel, about 55 frames a second".
export const planWords = ({ steps: ladderNow, at, ms }) => `${sizeWords(ladderNow[at])}, ${frameRate(ms)}`;

// Whether no step plays smoothly here, by the measurement: even the floor's
// frames are slower than watchable.
export const noSizeIsSmooth = (planned, watchableFps) => planned.ms !== null && planned.at === 0 &&
  planned.ms > 1000 / watchableFps;

// The programs of the step and its neighbours, and on the start screen the
// floor's too (where a slow machine ends), asked for: built behind, one after
// another. While the show plays, only where the browser builds them in
// parallel, since building one here would hold the picture.
export function buildAround(ladderNow, at, playing) {
  if (!picture || (playing && !buildsInParallel())) return;
  for (const index of playing ? [at, at - 1, at + 1] : [at, at - 1, at + 1, 0])
    if (ladderNow[index] && !programOf(ladderNow[index])) picture.ready(ladderNow[index]);
}

// The step a show at another size starts from: the planned one where its
// program is built, else the built step nearest below it, else the nearest above.
export function startingStep(planned) {
  const { steps: ladderNow, at } = planned;
  for (let index = at; index >= 0; index--) if (programOf(ladderNow[index])) return index;
  for (let index = at + 1; index < ladderNow.length; index++) if (programOf(ladderNow[index])) return index;
  return null;
}
