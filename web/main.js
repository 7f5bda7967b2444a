// korvatine in a browser: the song made by the show's own code in WebAssembly,
// the picture drawn by the show's own shader in WebGL2. This is the page's
// start: what the address asks for (#m=T a still, #check the check page,
// #video the video, #t=S the show from a moment, else the start screen), the
// keys, and window.korvatine for the console and the tests.
import "./system.js";
import { check } from "./check.js";
import { showControls } from "./controls.js";
import { EDITIONS, FULLSCREEN, WINDOWED } from "./editions.js";
import { keyAction } from "./keys.js";
import { frameTimes, measureSize } from "./measure.js";
import { fail, nextFrame, nextTask, say, sayWithButton, state, timings } from "./page.js";
import { loseTheContext, openPicture, restoreTheContext, sizeKey, tryAgain, whenPicture } from "./picture.js";
import { endShow, preparePlayer, seek, showing, soundBuffer, toggleFullEdition, toggleMute, togglePause }
  from "./player.js";
import { offerShow, play, startScreenNote } from "./screen.js";
import { plan } from "./sized.js";
import { sha256Hex } from "./sha256.js";
import { audioContext, makeSong, song, soundBufferOf } from "./sound.js";
import { stillByLink } from "./still.js";
import { clockText, linkedMoment } from "./timeline.js";
import { leaveVideo, makeVideo, offerVideo, videoByLink, videoFile } from "./video.js";

// Resolves once the start screen is on screen (its first paint, where the
// browser says; a second at the most): nothing before it holds the page.
function startScreenShown() {
  return new Promise((resolve) => {
    if (performance.getEntriesByName("first-paint").length) return resolve();
    const observer = new PerformanceObserver(() => done());
    const done = () => {
      observer.disconnect();
      resolve();
    };
    try {
      observer.observe({ type: "paint" });
    } catch {
      nextFrame().then(nextTask).then(done); // no paint timing: a frame and a task after it
    }
    setTimeout(done, 1000);
  });
}

// Everything the show needs, made while the start screen shows, none of it
// holding the page: the song in a worker, the pictures' programs built behind.
// The start screen is ready once the song is made and one edition can draw,
// and offers the others as they come; from the moment a link asks for.
async function prepareShow(from = 0) {
  await startScreenShown();
  const picture = openPicture(EDITIONS);
  if (!picture) return;
  const songMade = makeSong().then(() => null, (error) => error);
  let first = null;
  for (const edition of EDITIONS) if (!first && (await picture.ready(edition))) first = edition;
  if (!first) {
    const failure = Object.values(picture.failures)[0];
    return failure !== undefined && fail(`The shader did not compile in this browser:\n${failure}`);
  }
  if (!picture.sheet) return; // its failure is said
  const songFailure = await songMade;
  if (songFailure) return fail(`The song could not be made in this browser: ${songFailure.message}`);
  const sound = soundBufferOf(song);
  preparePlayer(song, sound);
  const notes = [];
  if (picture.sheet.name !== "8-bit luminance" && picture.sheet.name !== "RGBA32F")
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

// A lost context is said while it is away, with a way to try again where it
// does not come back; once back, the page goes on where it was.
whenPicture((what) => {
  if (what === "lost") say("The picture was lost (the browser took its WebGL context): asking for it back…");
  else if (what === "gone") sayWithButton("The picture has not come back (its WebGL context).", "Try again", tryAgain);
  else if (what === "restored") say(state() === "ready" ? startScreenNote() : "");
});

// What each action of the key table does.
const ACTIONS = {
  play: (_, event) => play(undefined, event.timeStamp),
  "play-windowed": (_, event) => play(WINDOWED, event.timeStamp),
  "play-fullscreen": (_, event) => play(FULLSCREEN, event.timeStamp),
  video: () => !document.getElementById("video-offer").hidden && makeVideo(FULLSCREEN),
  pause: togglePause,
  seek,
  mute: toggleMute,
  full: toggleFullEdition,
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
    return now && { edition: now.edition.name, size: now.size && sizeKey(now.size), m: now.m, drawn: now.drawn,
      position: now.position, duration: now.duration, paused: now.paused, muted: now.muted };
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
  // A frame's time here at any size, at the show's heaviest moments: measure({ width, height, rays }).
  measure: measureSize,
  // The sized edition's steps for this window, and the one it starts at: { steps, at, ms }.
  get sizedPlan() {
    return plan();
  },
  // The context lost as the browser would lose it, and given back.
  loseContext: loseTheContext,
  restoreContext: restoreTheContext,
};

if (/^#m=/.test(location.hash)) stillByLink(location.hash);
else if (location.hash === "#check") check();
else if (/^#video(&|$)/.test(location.hash))
  prepareShow().then(() => videoByLink(new URLSearchParams(location.hash.slice(7))));
else prepareShow(linkedMoment(location.hash) ?? 0);
