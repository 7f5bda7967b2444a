// The show playing: the sound's clock gives the moment, the moment gives m,
// m gives the frame. Pause, seek, mute and the edition switch act on the
// clock or the canvas and never on each other; a hidden page pauses. The
// sized edition changes its size as its frames' times say (sizes.js).
import { FULLSCREEN, WINDOWED, nextEdition, sizeWords } from "./editions.js";
import { bandsFor, frameTimes, stopMeasuring } from "./measure.js";
import { root, say, setState, state, timings, touchOnly } from "./page.js";
import { draw, gpuTimer, onScreen, picture, programOf, setCanvasSize, whenPicture } from "./picture.js";
import { WATCHABLE_FPS, frameRate } from "./plays.js";
import { buildAround, plan, startingStep, steps as currentSteps } from "./sized.js";
import { afterFrame, holding, work } from "./sizes.js";
import { Playback } from "./sound.js";
import { seekTarget } from "./timeline.js";

let song = null;
let songPlayback = null;
let show = null; // the show playing or paused, from its start to its end

// The song made, and its sound (soundBufferOf's answer): the show can play.
export function preparePlayer(made, sound) {
  song = made;
  songPlayback = new Playback(sound, () => endShow());
}

// The song's buffer as Web Audio plays it (null without Web Audio).
export const soundBuffer = () => songPlayback?.buffer ?? null;

// Who hears of each change: "start", "pause", "resume", "seek", "edition",
// "size", "mute", "frame" and "end" (the controls, the system's media session).
const listeners = [];
export const whenShowChanges = (listener) => listeners.push(listener);
const changed = (what) => listeners.forEach((listener) => listener(what));

// What the controls and the system are told: null between shows. size is
// what the picture is drawn at (for the sized edition, its step now).
export const showing = () =>
  show && {
    edition: show.edition,
    size: show.size,
    m: show.m ?? null,
    drawn: show.drawn,
    position: show.playback.position(),
    duration: show.duration,
    paused: show.playback.paused,
    muted: show.playback.muted,
  };

// Whether an edition can be drawn now: a build's program, or for the sized edition one of its steps'.
export const canDraw = (edition) =>
  edition.video ? true : edition.sized ? startingStep(plan()) !== null : programOf(edition) !== null;

// Starts the show from a moment (seconds of show time) in an edition that can draw.
export function startShow(edition, from = 0, requestedAt = performance.now()) {
  if (state() !== "ready" || !canDraw(edition)) return;
  stopMeasuring();
  setState("playing");
  say("");
  const playback = edition.video ? edition.playback : songPlayback;
  show = { requestedAt, drawn: 0, note: "", frames: [], playback, duration: edition.video ? edition.duration : song.duration };
  showEdition(edition);
  playback.play(Math.min(Math.max(from, 0), show.duration));
  sayIfAlone(show);
  changed("start");
  requestAnimationFrame(frame);
}

// The edition the show is drawn in, from the next frame on; the sound and the
// clock go on as they are. The full-screen edition asks for the screen.
export function showEdition(edition) {
  const playing = show;
  if (playing.edition && playing.edition !== edition) playing.before = playing.edition;
  playing.edition = edition;
  playing.frames = []; // when its recent frames were drawn
  playing.slowLineAt = null;
  playing.sizing = null;
  root.classList.toggle("watching", Boolean(edition.video));
  if (edition.sized) startSizing(playing);
  else if (!edition.video) drawAt(playing, edition);
  // Refused, or not offered (an iPhone): the edition fills the window or the page, letterboxed.
  if (edition.fullscreen && document.fullscreenEnabled) root.requestFullscreen().catch(() => {});
  else if (document.fullscreenElement && playing.before === FULLSCREEN) document.exitFullscreen().catch(() => {});
  say(playing.note);
  changed("edition");
}

// The size the picture is drawn at from the next frame on.
function drawAt(playing, size) {
  playing.size = size;
  playing.stale = true; // a new canvas size clears the picture: drawn again even while paused
  playing.lastDrawnAt = null;
  setCanvasSize(picture.gl, size);
  onScreen(size);
}

// The sized edition from the step the measurement says (or the nearest built), for this window.
function startSizing(playing) {
  const planned = plan();
  const at = startingStep(planned);
  playing.sizing = { state: holding(planned.steps, at, performance.now() / 1000), timer: gpuTimer(picture.gl) };
  buildAround(planned.steps, at, true);
  drawAt(playing, planned.steps[at]);
}

// The next edition offered that can draw, round the list: the edition control.
export function switchEdition() {
  if (!show || show.edition.video) return;
  let next = nextEdition(show.edition);
  while (next !== show.edition && !canDraw(next)) next = nextEdition(next);
  if (next !== show.edition) showEdition(next);
}

// F: to the full-screen edition, and from it back to the one played before.
export function toggleFullEdition() {
  if (!show || show.edition.video) return;
  const to = show.edition === FULLSCREEN ? show.before ?? WINDOWED : FULLSCREEN;
  if (to !== show.edition && canDraw(to)) showEdition(to);
}

export function togglePause() {
  if (!show) return;
  const { playback } = show;
  if (playback.paused) {
    playback.play(playback.position());
    show.frames = [];
    show.lastDrawnAt = null;
    changed("resume");
  } else {
    // The frame on screen is held, and its moment is where the show goes on from.
    const shown = show.m === undefined || show.edition.video ? undefined : show.m + song.titleCard;
    playback.pause(shown);
    show.timed = { what: "pause", since: performance.now(), at: playback.position() };
    changed("pause");
  }
}

// A seek by seconds, to a tenth of the show or to a moment; picture and sound move together.
export function seek(how) {
  if (!show) return;
  show.playback.seek(seekTarget(show.playback.position(), show.duration, how));
  show.frames = [];
  show.stale = true;
  show.lastDrawnAt = null;
  show.timed = { what: "seek", since: performance.now() };
  changed("seek");
}

export function toggleMute() {
  const playback = show?.playback ?? songPlayback;
  if (!playback) return;
  playback.setMuted(!playback.muted);
  changed("mute");
}

export function toggleFullscreen() {
  if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  else if (document.fullscreenEnabled) root.requestFullscreen().catch(() => {});
}

function frame() {
  const playing = show;
  if (!playing) return;
  const { playback } = playing;
  const position = playback.position();
  if (position >= playing.duration) return endShow();
  requestAnimationFrame(frame);
  sayIfAlone(playing);
  // How long a seek or a pause took to its frame on screen (it is, when the
  // next frame is asked for), and the moment that frame shows.
  const { timed } = playing;
  if (timed?.at !== undefined) {
    timings[timed.what] = { ms: performance.now() - timed.since, at: timed.at };
    playing.timed = null;
  }
  if (playing.edition.video) return videoFrame(playing, position);
  // While the context is lost, the clock goes on and nothing is drawn.
  const program = programOf(playing.size);
  if (!program || (playback.paused && !playing.stale)) return;
  playing.m = position - song.titleCard;
  playing.stale = false;
  const drawing = () => draw(picture.gl, program, playing.m, bandsFor(playing.size));
  if (playing.sizing?.timer) playing.sizing.timer.around(drawing);
  else drawing();
  const now = performance.now();
  if (playing.lostAt) timings.drawingAgain = now - playing.lostAt;
  playing.lostAt = null;
  // The first frame is on screen when the next one is asked for.
  if (playing.drawn++ === 1) timings.firstFrame = now - playing.requestedAt;
  // The frame just after a change of size: how long it kept the picture waiting.
  if (playing.sizeChangedAt) timings.sizes.at(-1).next = now - playing.sizeChangedAt;
  playing.sizeChangedAt = null;
  if (playing.timed) playing.timed.at = position;
  if (!playback.paused) {
    if (playing.sizing && playing.lastDrawnAt !== null) resize(playing, now - playing.lastDrawnAt, now);
    playing.lastDrawnAt = now;
    watchFrameRate(playing, now);
  }
  changed("frame");
}

// Where the picture plays alone (no sound here, or the browser did not start it), one line says why.
function sayIfAlone(playing) {
  if (!playing.playback.alone || playing.note) return;
  playing.note = `No sound, picture only: ${playing.playback.alone}.`;
  say(playing.note);
}

// A frame of a video the page made: the video shows itself; the moment is its time.
function videoFrame(playing, position) {
  playing.m = position - (song?.titleCard ?? 0);
  if (playing.timed) playing.timed.at = position;
  changed("frame");
}

// The sized edition after a frame: the step its controller says, from the
// next frame on, and the programs near it asked for.
function resize(playing, interval, now) {
  const { state, timer } = playing.sizing;
  const before = state.at;
  const at = afterFrame(state, { interval, gpu: timer?.latest ?? null }, now / 1000,
    (index) => programOf(state.steps[index]) !== null);
  if (at === before) return;
  timings.sizes = [...(timings.sizes ?? []), { at: now, size: state.steps[at], interval }];
  buildAround(state.steps, at, true);
  drawAt(playing, state.steps[at]);
  playing.sizeChangedAt = now;
  changed("size");
}

// A new window size or the screen: the sized edition's steps anew, from the
// step nearest the one it was at.
function newWindow() {
  const playing = show;
  if (!playing?.sizing) return;
  const ladderNow = currentSteps();
  const was = playing.size;
  const at = Math.max(ladderNow.findLastIndex((step) => work(step) <= work(was) && programOf(step)), 0);
  playing.sizing.state = holding(ladderNow, at, performance.now() / 1000);
  buildAround(ladderNow, at, true);
  if (programOf(ladderNow[at])) drawAt(playing, ladderNow[at]);
}
addEventListener("resize", newWindow);

// While an edition plays slower than 24 frames a second for a few seconds,
// one line says so for a few seconds, once an edition, naming the switch
// (or, for the sized edition at its smallest, that it is as small as it goes).
const SLOW_SECONDS = 3;
const SLOW_LINE_SECONDS = 6;
function watchFrameRate(playing, now) {
  const times = playing.frames;
  times.push(now);
  while (times.length > 2 && now - times[1] > SLOW_SECONDS * 1000) times.shift();
  if (playing.slowLineAt === null && now - times[0] >= SLOW_SECONDS * 1000) {
    const fps = ((times.length - 1) * 1000) / (now - times[0]);
    if (fps < WATCHABLE_FPS && (!playing.sizing || playing.sizing.state.at === 0)) {
      playing.slowLineAt = now;
      say(slowLine(playing, fps));
    }
  } else if (playing.slowLineAt && now - playing.slowLineAt > SLOW_LINE_SECONDS * 1000) {
    playing.slowLineAt = Infinity;
    say(playing.note);
  }
}

function slowLine({ edition, size, before }, fps) {
  const rate = frameRate(1000 / fps);
  if (edition.sized) return `The show plays at ${rate} here even at ${sizeWords(size)}: the start screen offers its video.`;
  const control = touchOnly() ? "the edition button" : "F";
  // F goes to the full-screen edition and back; only the cheaper one helps (unmeasured: fewer rays to trace).
  const other = edition === FULLSCREEN ? before ?? WINDOWED : FULLSCREEN;
  const cheaper = other.name in frameTimes && edition.name in frameTimes
    ? frameTimes[other.name] < frameTimes[edition.name]
    : other.sized || work(other) < work(edition);
  return `The ${edition.name} edition plays at ${rate} here: ` +
    (cheaper ? `${control} switches to the ${other.name} edition.` : `the ${other.name} edition (${control}) draws slower still.`);
}

// Escape, the end control or the song's end: the sound stops at once and the
// listeners hear "end" (the start screen returns).
export function endShow() {
  if (!show) return;
  const { playback } = show;
  show = null;
  playback.stop();
  root.classList.remove("watching");
  if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  changed("end");
}

// A lost context: the show goes on, and is drawn again once the context and
// its program are back (whatever was on the canvas went with the context).
whenPicture((what) => {
  if (!show) return;
  if (what === "lost") show.lostAt ??= performance.now();
  if (what === "restored" && show.sizing) show.sizing.timer = gpuTimer(picture.gl);
  show.stale = true;
});

// Leaving fullscreen from the full-screen edition goes on in the one played before.
document.addEventListener("fullscreenchange", () => {
  if (!document.fullscreenElement && show?.edition === FULLSCREEN) showEdition(show.before ?? WINDOWED);
  newWindow();
  changed("fullscreen");
});

// A hidden page (another tab, a minimised window, a locked phone) pauses the show.
document.addEventListener("visibilitychange", () => {
  if (document.hidden && show && !show.playback.paused) togglePause();
});
