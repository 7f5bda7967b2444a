// The show playing: the sound's clock gives the moment, the moment gives m,
// m gives the frame. Pause, seek, mute and the edition switch act on the
// clock or the canvas and never on each other; a hidden page pauses.
import { FULLSCREEN, WINDOWED, nextEdition, raysOf } from "./editions.js";
import { bandsFor, frameTimes, stopMeasuring } from "./measure.js";
import { root, say, setState, state, timings, touchOnly } from "./page.js";
import { draw, picture, setCanvasSize } from "./picture.js";
import { WATCHABLE_FPS, frameRate } from "./plays.js";
import { Playback } from "./sound.js";
import { seekTarget } from "./timeline.js";

let song = null;
let playback = null;
let show = null; // the show playing or paused, from its start to its end

// The song made, and its sound (soundBufferOf's answer): the show can play.
export function preparePlayer(made, sound) {
  song = made;
  playback = new Playback(sound, () => endShow());
}

// The song's buffer as Web Audio plays it (null without Web Audio).
export const soundBuffer = () => playback?.buffer ?? null;

// Who hears of each change: "start", "pause", "resume", "seek", "edition",
// "mute", "frame" and "end" (the controls, the system's media session).
const listeners = [];
export const whenShowChanges = (listener) => listeners.push(listener);
const changed = (what) => listeners.forEach((listener) => listener(what));

// What the controls and the system are told: null between shows.
export const showing = () =>
  show && {
    edition: show.edition,
    m: show.m ?? null,
    position: playback.position(),
    duration: song.duration,
    paused: playback.paused,
    muted: playback.muted,
  };

// Starts the show from a moment (seconds of show time) in an edition.
export function startShow(edition, from = 0, requestedAt = performance.now()) {
  if (state() !== "ready") return;
  stopMeasuring();
  setState("playing");
  say("");
  show = { requestedAt, drawn: 0, note: "", frames: [] };
  showEdition(edition);
  playback.play(Math.min(Math.max(from, 0), song.duration));
  changed("start");
  requestAnimationFrame(frame);
}

// The edition the show is drawn in, from the next frame on; the sound and the
// clock go on as they are. The full-screen edition asks for the screen.
export function showEdition(edition) {
  const playing = show;
  playing.edition = edition;
  playing.program = picture.programs[edition.name];
  playing.frames = []; // when its recent frames were drawn
  playing.slowLineAt = null;
  playing.stale = true; // a new canvas size clears the picture: drawn again even while paused
  setCanvasSize(picture.gl, edition);
  if (edition.fullscreen) root.requestFullscreen?.().catch(() => {}); // refused: letterboxed in the window
  else if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  say(playing.note);
  changed("edition");
}

export function switchEdition() {
  if (show) showEdition(nextEdition(show.edition));
}

export function togglePause() {
  if (!show) return;
  if (playback.paused) {
    playback.play(playback.position());
    show.frames = [];
    changed("resume");
  } else {
    // The frame on screen is held, and its moment is where the show goes on from.
    const shown = show.m === undefined ? undefined : show.m + song.titleCard;
    playback.pause(shown);
    show.timed = { what: "pause", since: performance.now(), at: playback.position() };
    changed("pause");
  }
}

// A seek by seconds, to a tenth of the show or to a moment; picture and sound move together.
export function seek(how) {
  if (!show) return;
  playback.seek(seekTarget(playback.position(), song.duration, how));
  show.frames = [];
  show.stale = true;
  show.timed = { what: "seek", since: performance.now() };
  changed("seek");
}

export function toggleMute() {
  if (!playback) return;
  playback.setMuted(!playback.muted);
  changed("mute");
}

export function toggleFullscreen() {
  if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  else root.requestFullscreen?.().catch(() => {});
}

function frame() {
  const playing = show;
  if (!playing) return;
  const position = playback.position();
  if (position >= song.duration) return endShow();
  if (playback.alone && !playing.note) {
    playing.note = `No sound, picture only: ${playback.alone}.`;
    say(playing.note);
  }
  // How long a seek or a pause took to its frame on screen (it is, when the
  // next frame is asked for), and the moment that frame shows.
  const { timed } = playing;
  if (timed?.at !== undefined) {
    timings[timed.what] = { ms: performance.now() - timed.since, at: timed.at };
    playing.timed = null;
  }
  if (!playback.paused || playing.stale) {
    playing.m = position - song.titleCard;
    playing.stale = false;
    draw(picture.gl, playing.program, playing.m, bandsFor(playing.edition));
    const now = performance.now();
    // The first frame is on screen when the next one is asked for.
    if (playing.drawn++ === 1) timings.firstFrame = now - playing.requestedAt;
    if (playing.timed) playing.timed.at = position;
    if (!playback.paused) watchFrameRate(playing, now);
    changed("frame");
  }
  requestAnimationFrame(frame);
}

// While an edition plays slower than 24 frames a second for a few seconds,
// one line says so for a few seconds, once an edition, naming the switch.
const SLOW_SECONDS = 3;
const SLOW_LINE_SECONDS = 6;
function watchFrameRate(playing, now) {
  const times = playing.frames;
  times.push(now);
  while (times.length > 2 && now - times[1] > SLOW_SECONDS * 1000) times.shift();
  if (playing.slowLineAt === null && now - times[0] >= SLOW_SECONDS * 1000) {
    const fps = ((times.length - 1) * 1000) / (now - times[0]);
    if (fps < WATCHABLE_FPS) {
      playing.slowLineAt = now;
      const { edition } = playing;
      const other = nextEdition(edition);
      // Only a switch to the cheaper edition helps (unmeasured: the one with fewer rays to trace).
      const cheaper = other.name in frameTimes && edition.name in frameTimes
        ? frameTimes[other.name] < frameTimes[edition.name]
        : raysOf(other) < raysOf(edition);
      const control = touchOnly() ? "the edition button" : "F";
      say(`The ${edition.name} edition plays at ${frameRate(1000 / fps)} here: ` +
        (cheaper ? `${control} switches to the ${other.name} edition.`
          : `the ${other.name} edition (${control}) draws slower still.`));
    }
  } else if (playing.slowLineAt && now - playing.slowLineAt > SLOW_LINE_SECONDS * 1000) {
    playing.slowLineAt = Infinity;
    say(playing.note);
  }
}

// Escape, the end control or the song's end: the sound stops at once and the
// listeners hear "end" (the start screen returns).
export function endShow() {
  if (!show) return;
  show = null;
  playback.stop();
  if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  changed("end");
}

// Leaving fullscreen from the full-screen edition goes on in the windowed one.
document.addEventListener("fullscreenchange", () => {
  if (!document.fullscreenElement && show?.edition === FULLSCREEN && FULLSCREEN !== WINDOWED) showEdition(WINDOWED);
  changed("fullscreen");
});

// A hidden page (another tab, a minimised window, a locked phone) pauses the show.
document.addEventListener("visibilitychange", () => {
  if (document.hidden && show && !playback.paused) togglePause();
});
