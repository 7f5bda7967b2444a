// korvatine in a browser: the song made by the show's own code in WebAssembly,
// the picture drawn by the show's own shader in WebGL2. This is the page's
// start: what the address asks for (#m=T a still, #check the check page,
// #video the video, #t=S the show from a moment, else the start screen), the
// keys, and window.korvatine for the console and the tests.
import "./system.js";
import { check } from "./check.js";
import { showControls } from "./controls.js";
import { EDITIONS, FULLSCREEN, WINDOWED, editionNamed } from "./editions.js";
import { keyAction } from "./keys.js";
import { frameTimes } from "./measure.js";
import { fail, nextFrame, state, timings } from "./page.js";
import { draw, openPicture, picture, whenContextLost } from "./picture.js";
import {
  endShow, preparePlayer, seek, showing, soundBuffer, switchEdition, toggleMute, togglePause,
} from "./player.js";
import { offerShow, play } from "./screen.js";
import { sha256Hex } from "./sha256.js";
import { audioContext, makeSong, song, soundBufferOf } from "./sound.js";
import { drawStill } from "./still.js";
import { clockText, linkedMoment } from "./timeline.js";
import { leaveVideo, makeVideo, offerVideo, videoByLink, videoFile } from "./video.js";

// Everything the show needs, made while the start screen shows; then the start
// screen offers it, from the moment a link asks for.
async function prepareShow(from = 0) {
  await nextFrame(); // the start screen shows while the rest is made
  if (!(await openPicture(EDITIONS))) return;
  const { gl } = picture;
  // The first draw with a program is where some drivers build it: one pixel
  // each now, rather than a stall after Enter.
  gl.viewport(0, 0, 1, 1);
  for (const program of Object.values(picture.programs)) draw(gl, program, 20);
  gl.finish();
  try {
    await makeSong();
  } catch (error) {
    return fail(`The song could not be made in this browser: ${error.message}`);
  }
  const sound = soundBufferOf(song);
  preparePlayer(song, sound);
  const notes = [];
  if (picture.textureFormat !== "RGBA32F")
    notes.push("This browser filters no 32-bit float textures: the label sheet is held in half floats.");
  if (sound.problem) notes.push(`No sound, picture only: ${sound.problem}.`);
  if (from > song.duration) {
    notes.push(`The link's moment, ${clockText(from)}, is past the show's end (${clockText(Math.round(song.duration))}): ` +
      "it plays from the start.");
    from = 0;
  }
  await offerVideo();
  timings.ready = performance.now();
  offerShow(notes.join("\n"), from);
}

whenContextLost(() => {
  endShow();
  fail("The browser took the picture away (its WebGL context was lost); reload the page to play again.");
});

// What each action of the key table does.
const ACTIONS = {
  play: (_, event) => play(WINDOWED, event.timeStamp),
  "play-fullscreen": (_, event) => play(FULLSCREEN, event.timeStamp),
  video: () => !document.getElementById("video-offer").hidden && makeVideo(FULLSCREEN),
  pause: togglePause,
  seek,
  mute: toggleMute,
  switch: switchEdition,
  end: endShow,
  "leave-video": leaveVideo,
};
const PLACES = { ready: "start", playing: "show", video: "video", "video-done": "video" };

document.addEventListener("keydown", (event) => {
  const where = PLACES[state()];
  if (!where) return;
  if (where === "show") showControls();
  // A focused button or link takes Space and Enter itself.
  if ((event.key === " " || event.key === "Enter") && event.target.closest?.("button, a, select")) return;
  const found = keyAction(event, where);
  // A held key repeats only a seek by seconds.
  if (!found || (event.repeat && found.by === undefined)) return;
  event.preventDefault();
  ACTIONS[found.action](found, event);
});

// Anything else that goes wrong is said the same way.
window.addEventListener("unhandledrejection", (event) => {
  event.preventDefault();
  fail(`Something failed: ${event.reason?.message ?? event.reason}`);
});
window.addEventListener("hashchange", () => location.reload());

// For a look from the browser's console, and for the tests.
window.korvatine = {
  timings,
  frameTimes,
  sha256Hex,
  // The show playing: its edition, the m of its last frame, its moment (show
  // time, as heard), and whether it is paused or muted.
  get playing() {
    const now = showing();
    return now && { edition: now.edition.name, m: now.m, position: now.position, duration: now.duration,
      paused: now.paused, muted: now.muted };
  },
  get audioContext() {
    return audioContext();
  },
  get songStream() {
    return song?.stream;
  },
  get soundBuffer() {
    return soundBuffer();
  },
  get videoFile() {
    return videoFile;
  },
};

const still = /^#m=(-?[0-9.]+)(?:&([a-z]+))?(?:&bands=([0-9]+))?$/.exec(location.hash);
const stillEdition = still && (still[2] ? editionNamed(still[2]) : WINDOWED);
if (stillEdition) drawStill(Number(still[1]), stillEdition, still[3] ? Number(still[3]) : undefined);
else if (location.hash === "#check") check();
else if (/^#video(&|$)/.test(location.hash))
  prepareShow().then(() => videoByLink(new URLSearchParams(location.hash.slice(7))));
else prepareShow(linkedMoment(location.hash) ?? 0);
