// The video: the show rendered offscreen and encoded by the browser.
//
// Every frame as the capture tool's video has it (frame k of the show at
// m = k / 60 - 2.080, in the span's frames from its first), drawn into a
// framebuffer of the edition's size in bands of rows, read back and handed to
// WebCodecs; the sound is the stream as the device plays it, from the span's
// start. Mediabunny (bundled into the page by the build, where it has it)
// writes the container. The file is offered as a download link once it is
// complete; nothing is offered after a failure or Escape.
import * as Mediabunny from "video-writer";

import { EDITIONS, FULLSCREEN, WINDOWED } from "./editions.js";
import { keysHtml, keysOf } from "./keys.js";
import { BAND_MS, bandsFor, frameTimes, measureEditions, stopMeasuring, whenMeasured } from "./measure.js";
import { fail, pause, say, setState, state, timings } from "./page.js";
import { draw, drawInto, drawRows, offscreenTarget, picture, programOf } from "./picture.js";
import { WATCHABLE_FPS } from "./plays.js";
import { noSizeIsSmooth, plan, planWords } from "./sized.js";
import { watchVideo } from "./made_video.js";
import { endShow } from "./player.js";
import { startScreenNote } from "./screen.js";
import { song } from "./sound.js";
import { clockText } from "./timeline.js";

const VIDEO_FPS = 60;
// Constant bit rates, so that the file's size is known before it starts: 0.32
// bits a pixel (40 Mbit/s at 1920 x 1080 and 60 frames a second), at least 6
// Mbit/s. The floor's fine grid is what a low rate loses first (see docs/browser.md).
const videoBitrate = ({ width, height }) => Math.max(6, Math.round((0.32 * width * height * VIDEO_FPS) / 1e6)) * 1e6;
const AUDIO_BITRATE = 192000;
const KEYFRAME_EVERY = 2 * VIDEO_FPS;

// The pairs tried, best first: H.264 High (level 4.2: 1080p60) in MP4, else VP9 in WebM.
const VIDEO_CHOICES = [
  { container: "mp4", extension: "mp4", codec: "avc1.64002A", muxCodec: "avc", name: "H.264", sounds: ["aac", "opus"] },
  { container: "webm", extension: "webm", codec: "vp09.00.41.08", muxCodec: "vp9", name: "VP9", sounds: ["opus"] },
];
const SOUND_CHOICES = {
  aac: { codec: "mp4a.40.2", muxCodec: "aac", name: "AAC" },
  opus: { codec: "opus", muxCodec: "opus", name: "Opus" },
};

let videoPlan = null; // what this browser encodes, found once
export let videoFile = null; // the video last made

// The video and sound this browser encodes for an edition, or { problem }.
function findVideoFormat(edition) {
  videoPlan ??= (async () => {
    if (!Mediabunny.Output) return { problem: "this page was built without its video writer" };
    if (typeof VideoEncoder === "undefined" || typeof AudioEncoder === "undefined")
      return { problem: "this browser has no WebCodecs encoders (or not on this page's origin)" };
    const found = {};
    for (const edition of EDITIONS) {
      const { width, height } = edition;
      for (const choice of VIDEO_CHOICES) {
        const video = {
          codec: choice.codec, width, height, framerate: VIDEO_FPS, bitrate: videoBitrate(edition),
          bitrateMode: "constant", latencyMode: "quality", ...(choice.muxCodec === "avc" && { avc: { format: "avc" } }),
        };
        if (!(await VideoEncoder.isConfigSupported(video).catch(() => ({}))).supported) continue;
        const sound = await findSound(choice.sounds);
        if (!sound) continue;
        found[edition.name] = { ...choice, edition, video, sound };
        break;
      }
    }
    if (EDITIONS.some((edition) => !found[edition.name]))
      return { problem: "this browser encodes neither H.264 with AAC or Opus nor VP9 with Opus" };
    return found;
  })();
  return videoPlan.then((plan) => (plan.problem ? plan : plan[edition.name]));
}

// The first sound encoder taken, AAC at the song's rate (44100 Hz), Opus at its
// own 48000 Hz, else the other. (Chromium's Opus encoder takes 44100 Hz, but
// resamples it itself with a delay of 0.7 ms that the file does not account for.)
async function findSound(names) {
  for (const name of names)
    for (const sampleRate of name === "opus" ? [48000, 44100] : [44100, 48000]) {
      const audio = { codec: SOUND_CHOICES[name].codec, sampleRate, numberOfChannels: 1, bitrate: AUDIO_BITRATE };
      if ((await AudioEncoder.isConfigSupported(audio).catch(() => ({}))).supported)
        return { ...SOUND_CHOICES[name], audio };
    }
  return null;
}

// The start screen's offers of a video, with how long it will take once the
// page has measured the edition's frame time: the full-screen edition's, and,
// where no size of the show plays smoothly here, the windowed edition's (which
// then plays smoothly, here in the page or anywhere); and the check page's line.
export async function offerVideo() {
  const [full, windowed] = [await findVideoFormat(FULLSCREEN), await findVideoFormat(WINDOWED)];
  if (!full.problem) {
    document.getElementById("video-keys").innerHTML = `${keysHtml(keysOf("video", "start"))}:`;
    document.getElementById("video-offer").hidden = false;
  }
  const sayOffers = () => {
    if (!full.problem) document.getElementById("video-about").textContent = ` the ${FULLSCREEN.name} edition, ${made(full)}`;
    saySmoothVideo(windowed);
  };
  sayOffers();
  whenMeasured(sayOffers);
}

// The whole show's video in a format, in words: frames, codecs, size, and
// (once measured) up to how long it takes here.
function made(format) {
  const perFrame = frameTimes[format.edition.name];
  const frames = framesIn(0, songSeconds());
  // The measured frame time is the heaviest moments': an upper bound.
  const about = perFrame ? `, up to about ${clockText(Math.round((frames * perFrame) / 1000))} here` : "";
  return `${frames} frames at 60 a second, ${format.name} and ${format.sound.name} in ` +
    `${format.extension.toUpperCase()}, ${megabytes(fileBytes(format, frames))}${about}`;
}

// Where even the sized edition's smallest size plays under 24 frames a second here.
function saySmoothVideo(format) {
  const planned = plan();
  const offer = document.getElementById("smooth-video");
  offer.hidden = !noSizeIsSmooth(planned, WATCHABLE_FPS);
  if (offer.hidden) return;
  const { width, height } = WINDOWED;
  document.getElementById("smooth-about").textContent = `No size plays smoothly here: even at ${planWords(planned)}. ` +
    (format.problem ? `A video would, but this page cannot make one here: ${format.problem}.`
      : `The ${width} × ${height} edition's video plays smoothly: ${made(format)}; then watch it here or save it.`);
  document.getElementById("make-smooth-video").hidden = Boolean(format.problem);
}

export async function videoCheckLine() {
  const format = await findVideoFormat(FULLSCREEN);
  if (format.problem) return `--  Making the video: not offered, ${format.problem}`;
  return `ok  Making the video: ${format.name} and ${format.sound.name} in ${format.extension.toUpperCase()}`;
}

// --- Frames and sound, as the capture tool's video takes them -----------------

const songSeconds = () => (song.stream.length + 1) / 2 / song.rate;

// Frames of the whole show shown at k / 60 s that fall in [from, to).
function framesIn(from, to) {
  return Math.max(Math.ceil(to * VIDEO_FPS - 1e-9) - Math.ceil(from * VIDEO_FPS - 1e-9), 0);
}

// The values the device plays, from the first frame's time for as long as the
// frames last: value k is the stream's pair k (big-endian, from the song's
// byte 1), zero past the song's end.
function soundOfSpan(first, count) {
  const start = Math.round((first * song.rate) / VIDEO_FPS);
  const values = new Int16Array(Math.round((count * song.rate) / VIDEO_FPS));
  const stream = song.stream;
  for (let i = 0, at = 2 * start; i < values.length && at + 1 < stream.length; i++, at += 2)
    values[i] = (stream[at] << 8) | stream[at + 1];
  return values;
}

// The values at another rate: each the windowed sinc interpolation of the song's
// values at its time (a symmetric filter, so nothing moves in time), band
// limited below the lower rate's half.
function resampled(values, rate) {
  if (rate === song.rate) return values;
  const ratio = song.rate / rate;
  const cutoff = 0.95 * Math.min(1, 1 / ratio) * 0.5; // in cycles per input value
  const reach = 24;
  const out = new Int16Array(Math.round(values.length / ratio));
  for (let n = 0; n < out.length; n++) {
    const t = n * ratio;
    const centre = Math.floor(t);
    let sum = 0;
    for (let j = centre - reach + 1; j <= centre + reach; j++) {
      if (j < 0 || j >= values.length) continue;
      const x = t - j;
      const window = 0.42 + 0.5 * Math.cos((Math.PI * x) / reach) + 0.08 * Math.cos((2 * Math.PI * x) / reach);
      const sinc = x === 0 ? 2 * cutoff : Math.sin(2 * Math.PI * cutoff * x) / (Math.PI * x);
      sum += values[j] * sinc * window;
    }
    out[n] = Math.max(-32768, Math.min(32767, Math.round(sum)));
  }
  return out;
}

const fileBytes = (format, frames) =>
  ((format.video.bitrate + format.sound.audio.bitrate) * frames) / VIDEO_FPS / 8;
const megabytes = (bytes) => `about ${bytes >= 1e7 ? Math.round(bytes / 1e6) : (bytes / 1e6).toFixed(1)} MB`;


// --- The render ------------------------------------------------------------------

let video = null; // the video being made

// Makes the video of show time [from, to) in an edition; ends in video-done
// with the link, failed with its line, or (Escape) ready with nothing offered.
export async function makeVideo(edition, from = 0, to = songSeconds(), kbits = 0) {
  if (video || (state() !== "ready" && state() !== "video-done")) return;
  setState("video");
  stopMeasuring(); // the start screen's measurement of the editions waits
  const holder = document.getElementById("video");
  const old = holder.querySelector("a");
  if (old) URL.revokeObjectURL(old.href);
  holder.textContent = "";
  say("");
  const making = (video = { cancelled: false, encoders: [], output: null });
  try {
    let format = await findVideoFormat(edition);
    if (format.problem) throw new Error(format.problem);
    if (kbits) format = { ...format, video: { ...format.video, bitrate: kbits * 1000 } };
    const file = await render(making, edition, format, from, to, (text) => (holder.textContent = text));
    const first = Math.ceil(from * VIDEO_FPS - 1e-9); // the video's time 0 is this frame's moment
    if (making.cancelled) return;
    const { width, height } = edition;
    // Watched here in the page's player, or saved.
    const watch = document.createElement("button");
    watch.textContent = "Watch it here";
    watch.addEventListener("click", (event) => {
      event.stopPropagation();
      watchVideo(file, first / VIDEO_FPS, endShow).catch((error) => fail(`The video was not played: ${error.message}.`));
    });
    const link = document.createElement("a");
    link.href = URL.createObjectURL(file);
    link.download = `korvatine-${width}x${height}-60fps.${format.extension}`;
    link.textContent = `Save ${link.download} (${(file.size / 1e6).toFixed(1)} MB)`;
    holder.append(holder.textContent ? " " : "", watch, " ", link);
    videoFile = file;
    setState("video-done");
  } catch (error) {
    if (making.cancelled) return;
    holder.textContent = "";
    fail(`The video was not made: ${error.message}.`);
  } finally {
    for (const encoder of making.encoders) if (encoder.state !== "closed") encoder.close();
    if (video === making) video = null;
    if (state() === "ready" || state() === "video-done") measureEditions();
  }
}

// Escape: the render stops between two steps, and nothing is offered; from a
// video made, back to the start screen.
export function leaveVideo() {
  if (state() === "video-done") return setState("ready");
  if (!video) return;
  video.cancelled = true;
  video.output?.cancel().catch(() => {});
  document.getElementById("video").textContent = "";
  setState("ready");
  say(startScreenNote());
}

async function render(making, edition, format, from, to, show) {
  if (!(await picture.ready(edition))) throw new Error(`the ${edition.name} edition's shader did not compile here`);
  const { gl } = picture;
  const program = programOf(edition);
  const { width, height } = edition;
  const first = Math.ceil(from * VIDEO_FPS - 1e-9);
  const count = framesIn(from, to);
  if (!count) throw new Error("the span holds no frame");
  const check = () => {
    if (gl.isContextLost()) throw new Error("the browser took the picture away (its WebGL context was lost)");
    if (making.error) throw making.error;
    return !making.cancelled;
  };

  // The container, and the encoders feeding it; each track's packets in order.
  const output = new Mediabunny.Output({
    format: format.container === "mp4" ? new Mediabunny.Mp4OutputFormat() : new Mediabunny.WebMOutputFormat(),
    target: new Mediabunny.BufferTarget(),
  });
  making.output = output;
  const videoTrack = new Mediabunny.EncodedVideoPacketSource(format.muxCodec);
  const soundTrack = new Mediabunny.EncodedAudioPacketSource(format.sound.muxCodec);
  output.addVideoTrack(videoTrack, { frameRate: VIDEO_FPS });
  output.addAudioTrack(soundTrack);
  await output.start();
  const chains = { video: Promise.resolve(), sound: Promise.resolve() };
  const feed = (track, source) => (chunk, meta) => {
    const packet = Mediabunny.EncodedPacket.fromEncodedChunk(chunk);
    chains[track] = chains[track].then(() => source.add(packet, meta));
    chains[track].catch((error) => (making.error ??= new Error(`the container could not be written (${error.message})`)));
  };
  const failed = (what) => (error) => (making.error ??= new Error(`the ${what} encoder failed (${error.message})`));
  const videoEncoder = new VideoEncoder({ output: feed("video", videoTrack), error: failed("video") });
  const soundEncoder = new AudioEncoder({ output: feed("sound", soundTrack), error: failed("sound") });
  making.encoders.push(videoEncoder, soundEncoder);
  videoEncoder.configure(format.video);
  soundEncoder.configure(format.sound.audio);

  // The sound, whole, in pieces of a second.
  const rate = format.sound.audio.sampleRate;
  const sound = resampled(soundOfSpan(first, count), rate);
  for (let at = 0; at < sound.length; at += rate) {
    const data = sound.subarray(at, Math.min(at + rate, sound.length));
    const piece = new AudioData({
      format: "s16", sampleRate: rate, numberOfChannels: 1, numberOfFrames: data.length,
      timestamp: Math.round((at * 1e6) / rate), data,
    });
    soundEncoder.encode(piece);
    piece.close();
  }

  // The framebuffer of the edition's size, and how many bands keep each draw short.
  const { framebuffer, release } = offscreenTarget(gl, width, height);
  const into = (drawing) => drawInto(gl, framebuffer, width, height, drawing);
  const pixels = new Uint8Array(width * height * 4);
  const upright = new Uint8Array(width * height * 4);
  let bands;
  try {
    // Measured on the start screen already, or probed now.
    bands = frameTimes[edition.name] !== undefined ? bandsFor(edition) : 0;
    if (!bands) into(() => (bands = probeBands(gl, program, width, height)));
    const started = (making.started = performance.now());
    let done = 0;
    const progress = () => {
      const elapsed = (performance.now() - started) / 1000;
      const rate = done / Math.max(elapsed, 1e-9);
      const left = done ? clockText(Math.round((count - done) / rate)) : "…";
      show(`Making the video: frame ${done} of ${count}, ${((first + done) / VIDEO_FPS).toFixed(2)} s of the show ` +
        `(to ${((first + count) / VIDEO_FPS).toFixed(2)}), ${rate.toFixed(2)} frames a second, ` +
        `${clockText(Math.round(elapsed))} elapsed, ${left} left; ${megabytes(fileBytes(format, count))}. ` +
        `${keysOf("leave-video", "video").join(" or ")} stops it.`);
    };
    progress();
    const ticker = setInterval(progress, 1000);
    try {
      for (; done < count; done++) {
        const m = (first + done) / VIDEO_FPS - song.titleCard;
        into(() => draw(gl, program, m, bands));
        // The page answers keys while the GPU draws: it looks between steps.
        const fence = gl.fenceSync(gl.SYNC_GPU_COMMANDS_COMPLETE, 0);
        gl.flush();
        while (check() && gl.clientWaitSync(fence, 0, 0) === gl.TIMEOUT_EXPIRED) await pause(5);
        gl.deleteSync(fence);
        if (!check()) return null;
        into(() => gl.readPixels(0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, pixels));
        // GL's rows run bottom up; the video's top down.
        const row = width * 4;
        for (let y = 0; y < height; y++) upright.set(pixels.subarray((height - 1 - y) * row, (height - y) * row), y * row);
        const frame = new VideoFrame(upright, {
          format: "RGBX", codedWidth: width, codedHeight: height,
          timestamp: Math.round((done * 1e6) / VIDEO_FPS), duration: Math.round(1e6 / VIDEO_FPS),
        });
        videoEncoder.encode(frame, { keyFrame: done % KEYFRAME_EVERY === 0 });
        frame.close();
        while (check() && videoEncoder.encodeQueueSize > 2) await pause(5);
        if (!check()) return null;
        if (done % 8 === 7) progress();
        await pause(0); // keys and the progress line between frames
      }
      progress();
    } finally {
      clearInterval(ticker);
    }
  } finally {
    release();
  }
  show(`Making the video: all ${count} frames drawn; finishing the file…`);
  await Promise.all([videoEncoder.flush(), soundEncoder.flush()]);
  await Promise.all([chains.video, chains.sound]);
  if (!check()) return null;
  await output.finalize();
  if (!check()) return null;
  timings.video = { frames: count, seconds: (performance.now() - making.started) / 1000, bands };
  return new Blob([output.target.buffer], { type: format.container === "mp4" ? "video/mp4" : "video/webm" });
}

// Bands enough that none keeps the GPU longer than the page's BAND_MS, from a frame at
// m = 20 (where the scene is busy) drawn in 16 bands, each timed to its end
// (a pixel read back waits for the draw): the slowest band's rows set them all.
function probeBands(gl, program, width, height) {
  const probes = Math.min(16, height);
  const pixel = new Uint8Array(4);
  gl.useProgram(program.program);
  gl.uniform1f(program.m, 20);
  let slowest = 0;
  for (let band = 0; band < probes; band++) {
    const bottom = Math.floor((band * height) / probes);
    const started = performance.now();
    drawRows(gl, width, bottom, Math.floor(((band + 1) * height) / probes));
    gl.readPixels(0, bottom, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
    slowest = Math.max(slowest, performance.now() - started);
  }
  gl.disable(gl.SCISSOR_TEST);
  return Math.min(Math.max(Math.ceil((probes * slowest) / BAND_MS), 1), height);
}

// #video[&EDITION][&from=S][&to=S][&bitrate=KBITS]: the render at once, without a gesture.
export async function videoByLink(options) {
  if (state() !== "ready") return;
  const from = options.has("from") ? Number(options.get("from")) : 0;
  const to = options.has("to") ? Number(options.get("to")) : songSeconds();
  if (!(from >= 0 && to <= songSeconds() && from < to))
    return fail(`The video was not made: the span ${from} to ${to} s is not within the show (0 to ${songSeconds()} s).`);
  const kbits = Number(options.get("bitrate") ?? 0);
  if (!(Number.isInteger(kbits) && (kbits === 0 || (kbits >= 100 && kbits <= 200000))))
    return fail("The video was not made: bitrate takes a whole number of kbit/s from 100 to 200000.");
  await makeVideo(EDITIONS.find((edition) => options.has(edition.name)) ?? FULLSCREEN, from, to, kbits);
}

document.getElementById("make-video").addEventListener("click", () => makeVideo(FULLSCREEN));
document.getElementById("make-smooth-video").addEventListener("click", () => makeVideo(WINDOWED));
