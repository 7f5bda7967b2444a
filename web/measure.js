// How this machine draws each edition: a small benchmark inside the page, a
// few timed frames at the show's heaviest moments, within a time budget and
// never on the path to ready; and from its result, how many bands of rows a
// frame is drawn in.
import { EDITIONS } from "./editions.js";
import { work } from "./sizes.js";
import { nextTask, timings } from "./page.js";
import { drawInto, drawRows, offscreenTarget, picture, programOf } from "./picture.js";

// The moments that cost the most to draw in both editions (the frame benchmark
// over the whole show: the opening's close view and the last cuts before the fade).
const HEAVIEST_MOMENTS = [5, 67.5];
// A draw that runs longer than this risks the browser resetting the GPU, so
// longer frames are drawn in bands of about BAND_MS each.
const SAFE_DRAW_MS = 100;
export const BAND_MS = 50;
// Where the frame time is not known yet: bands of at most 45 rows.
const UNMEASURED_BAND_ROWS = 45;
// The measurement gives up on an edition after this long, and says it is slower.
const MEASURE_BUDGET_MS = 5000;

// Milliseconds a frame of each edition takes here, at its heaviest moment, once measured.
export const frameTimes = {};

// Who hears of each edition measured (the start screen).
const listeners = [];
export const whenMeasured = (listener) => listeners.push(listener);

// How many bands a frame of an edition or any size is drawn in: by its own
// measured time, else by a measured edition's scaled by the rays each traces.
export function bandsFor(size) {
  const measured = EDITIONS.find((edition) => frameTimes[edition.name] !== undefined);
  const ms = frameTimes[size.name] ?? (measured && (frameTimes[measured.name] * work(size)) / work(measured));
  if (ms === undefined) return Math.ceil(size.height / UNMEASURED_BAND_ROWS);
  return ms > SAFE_DRAW_MS ? Math.min(Math.ceil(ms / BAND_MS), size.height) : 1;
}

// Milliseconds one frame of the edition at m takes here, drawn into target.
// Each piece of work is timed to a pixel read back from it, which waits for
// the GPU: pieces are kept to about BAND_MS, and the page answers between
// them. First a sample of the frame: strips spread evenly over its height
// (rows cost very differently: the bars are free, the instruments dear), each
// 16 rows from a multiple of 16, since GPUs shade blocks of pixels (llvmpipe's
// are 16 rows high: a thinner strip costs as much). Then, where a whole frame
// is short, several frames in a row, else the frame band by band. Past
// deadline it stops with the sample's estimate. Null when stopped.
async function measureFrame(gl, program, target, { width, height }, m, deadline, stopped) {
  const pixel = new Uint8Array(4);
  const timed = async (drawing) => {
    await nextTask();
    if (stopped()) return null;
    let spent;
    drawInto(gl, target, width, height, () => {
      gl.useProgram(program.program);
      gl.uniform1f(program.m, m);
      const started = performance.now();
      drawing();
      gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
      spent = performance.now() - started;
    });
    return spent;
  };
  const STRIPS = 8;
  const STRIP_ROWS = 16;
  const strip = (k) => {
    const bottom = Math.floor(((k + 0.5) * height) / STRIPS / STRIP_ROWS) * STRIP_ROWS;
    drawRows(gl, width, bottom, bottom + STRIP_ROWS);
  };
  // The first draw into a new target is where some drivers build the program
  // again for it: not timed.
  if ((await timed(() => drawRows(gl, width, 0, 1))) === null) return null;
  let sample = 0;
  for (let k = 0; k < STRIPS; k++) {
    const spent = await timed(() => strip(k));
    if (spent === null) return null;
    sample += spent;
  }
  const estimate = (sample * height) / (STRIP_ROWS * STRIPS);
  if (estimate < BAND_MS) {
    const frames = Math.max(1, Math.min(10, Math.floor((2 * BAND_MS) / estimate)));
    let fastest = Infinity;
    for (let round = 0; round < 2; round++) {
      const spent = await timed(() => {
        for (let k = 0; k < frames; k++) gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
      });
      if (spent === null) return null;
      fastest = Math.min(fastest, spent / frames);
    }
    return fastest;
  }
  const bandRows = Math.max(1, Math.floor((height * BAND_MS) / estimate));
  let spent = 0;
  for (let bottom = 0; bottom < height; bottom += bandRows) {
    const top = Math.min(bottom + bandRows, height);
    const band = await timed(() => drawRows(gl, width, bottom, top));
    if (band === null) return null;
    spent += band;
    if (performance.now() > deadline) return estimate;
  }
  return spent;
}

// Milliseconds a frame of the size takes here at the slower of the heaviest
// moments, drawn into a framebuffer of its size; null when stopped.
async function slowestFrame(gl, size, stopped) {
  const { framebuffer: target, release } = offscreenTarget(gl, size.width, size.height);
  const deadline = performance.now() + MEASURE_BUDGET_MS;
  let slowest = 0;
  for (const m of HEAVIEST_MOMENTS) {
    const ms = await measureFrame(gl, programOf(size), target, size, m, deadline, stopped);
    if (ms === null) break;
    slowest = Math.max(slowest, ms);
    if (performance.now() > deadline) break;
  }
  release();
  return stopped() ? null : slowest;
}

// Measures each edition that can draw and is not yet measured, and tells the
// listeners; stops, unfinished, when the show starts or the context is lost
// (and measures again when the start screen returns, or an edition is built).
let measuring = null;
export async function measureEditions() {
  if (measuring) return;
  const { gl } = picture;
  const run = { stopped: false };
  const stopped = () => run.stopped || gl.isContextLost();
  measuring = run;
  const started = performance.now();
  const stalls = watchStalls();
  const unmeasured = () => EDITIONS.find((edition) => frameTimes[edition.name] === undefined && programOf(edition));
  for (let edition; !stopped() && (edition = unmeasured()); ) {
    // Not while programs are being built: the GPU building them draws slower meanwhile.
    await picture.idle();
    if (stopped()) break;
    const ms = await slowestFrame(gl, edition, stopped);
    if (ms === null) break;
    frameTimes[edition.name] = ms;
    for (const listener of listeners) listener(edition);
  }
  stalls.stop();
  if (measuring === run) measuring = null;
  if (!run.stopped) timings.measuring = { ms: performance.now() - started, longestStall: stalls.longest };
}

// A frame's time at any size, as the start screen measures an edition (for
// the console and the benchmark): its program built first.
export async function measureSize(size) {
  if (!(await picture.ready(size))) return null;
  return slowestFrame(picture.gl, size, () => picture.gl.isContextLost());
}

export function stopMeasuring() {
  if (measuring) measuring.stopped = true;
  measuring = null;
}

// The longest time the page's event loop did not come round, in milliseconds,
// while watched (a timer asked for every 20 ms, less those 20 ms).
function watchStalls() {
  const watch = { longest: 0 };
  let last = performance.now();
  const timer = setInterval(() => {
    const now = performance.now();
    watch.longest = Math.max(watch.longest, now - last - 20);
    last = now;
  }, 20);
  watch.stop = () => clearInterval(timer);
  return watch;
}
