// The picture: WebGL2 on the page's canvas, each edition's program, the label
// sheet, and the one way a frame is drawn (draw), which playing, stills, the
// measurement and the video all use. Nothing here holds the page for long:
// programs are built in parallel where the browser can (and one a task where
// it cannot), the label sheet goes up in strips, and a lost context is asked
// back and everything built again.
import { BUILT, inflate } from "./built.js";
import { shaderText } from "./editions.js";
import { fail, nextTask, pause, timings } from "./page.js";
import { inWorker } from "./worker.js";

// The canvas the show draws on; a new one where a lost context does not come back.
export let canvas = document.getElementById("canvas");

// The rectangle from (-1, -1) to (1, 1) over the whole canvas, as the native
// show's one rectangle: a strip of its four corners, made from their numbers.
const VERTEX_SHADER = `#version 300 es
void main() {
  gl_Position = vec4(float(gl_VertexID & 1) * 2.0 - 1.0, float(gl_VertexID >> 1) * 2.0 - 1.0, 0.0, 1.0);
}`;

const COMPLETION_STATUS_KHR = 0x91b1;

// Hands a program's two shaders and its link to the driver, asking nothing
// back: where the browser builds in parallel, asking would wait for it.
function startProgram(gl, fragmentText) {
  const program = gl.createProgram();
  const shaders = [[gl.VERTEX_SHADER, VERTEX_SHADER], [gl.FRAGMENT_SHADER, fragmentText]].map(([type, text]) => {
    const shader = gl.createShader(type);
    gl.shaderSource(shader, text);
    gl.compileShader(shader);
    gl.attachShader(program, shader);
    return shader;
  });
  gl.linkProgram(program);
  return { program, shaders };
}

// The program built: { program, m } (its uniform's location), or { log } (why not).
function finishProgram(gl, { program, shaders }) {
  const linked = gl.getProgramParameter(program, gl.LINK_STATUS);
  const logs = shaders.filter((shader) => !gl.getShaderParameter(shader, gl.COMPILE_STATUS))
    .map((shader) => gl.getShaderInfoLog(shader));
  for (const shader of shaders) gl.deleteShader(shader);
  if (linked) return { program, m: gl.getUniformLocation(program, "m") };
  gl.deleteProgram(program);
  return { log: logs.join("\n") || gl.getProgramInfoLog(program) || "(no log)" };
}

// Whether the GPU has done all it was handed (false: no longer wanted),
// asked after every 8 ms through a fence, which never holds the page.
async function finished(gl, stillWanted) {
  const fence = gl.fenceSync(gl.SYNC_GPU_COMMANDS_COMPLETE, 0);
  gl.flush();
  await nextTask();
  while (stillWanted() && gl.clientWaitSync(fence, 0, 0) === gl.TIMEOUT_EXPIRED) await pause(8);
  gl.deleteSync(fence);
  return stillWanted();
}

// A program built without holding the page: in parallel, asked after every
// 16 ms whether it is done; else in a task of its own. Then drawn once into a
// pixel of its own, since the first draw is where some drivers build it
// again, and that draw waited for with a fence, so that no stall comes after Enter.
async function buildProgram(gl, fragmentText, stillWanted) {
  const parallel = gl.getExtension("KHR_parallel_shader_compile") !== null;
  await nextTask();
  const started = startProgram(gl, fragmentText);
  while (parallel && stillWanted() && !gl.getProgramParameter(started.program, COMPLETION_STATUS_KHR)) await pause(16);
  if (!stillWanted()) return null;
  const built = finishProgram(gl, started);
  if (!built.program) return built;
  const pixel = offscreenTarget(gl, 1, 1);
  drawInto(gl, pixel.framebuffer, 1, 1, () => draw(gl, built, 20));
  const drawn = await finished(gl, stillWanted);
  pixel.release();
  return drawn ? built : null;
}

// The label sheet as the native show holds it: each grey byte b of the raster
// as b / 255 in red, green and blue, 4096 texels square, filtered linearly,
// repeating, its first row the top of the page, on texture unit 0. Held as one
// 8-bit channel that reads the same in red, green and blue (luminance): 16 MiB
// where floats take 256. Where that cannot be had, in floats as before, and in
// half floats where 32-bit ones are not filtered (each grey within 1/4096 of
// b / 255). Uploaded in strips of a mebibyte, each handed over only once the
// last has been taken: a page that hands the GPU more than it takes waits for
// it, as long as it is busy (building a program, say).
const SHEET_FORMATS = [
  { name: "8-bit luminance", internal: "LUMINANCE", format: "LUMINANCE", type: "UNSIGNED_BYTE", bytes: 1 },
  { name: "RGBA32F", internal: "RGBA32F", format: "RGBA", type: "FLOAT", bytes: 16, needs: "OES_texture_float_linear" },
  { name: "RGBA16F", internal: "RGBA16F", format: "RGBA", type: "FLOAT", bytes: 8 },
];
async function uploadLabelSheet(gl, grey, size, stillWanted) {
  for (const sheet of SHEET_FORMATS) {
    if (sheet.needs && !gl.getExtension(sheet.needs)) continue;
    const texture = gl.createTexture();
    gl.activeTexture(gl.TEXTURE0);
    gl.bindTexture(gl.TEXTURE_2D, texture);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.LINEAR);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.LINEAR);
    gl.pixelStorei(gl.UNPACK_ALIGNMENT, 1);
    gl.texImage2D(gl.TEXTURE_2D, 0, gl[sheet.internal], size, size, 0, gl[sheet.format], gl[sheet.type], null);
    if (gl.getError() !== gl.NO_ERROR) {
      gl.deleteTexture(texture);
      continue;
    }
    const rows = 256;
    const levels = Float32Array.from({ length: 256 }, (_, b) => b / 255);
    for (let top = 0; top < size; top += rows) {
      if (!(await finished(gl, stillWanted))) return null;
      const strip = grey.subarray(top * size, (top + rows) * size);
      gl.bindTexture(gl.TEXTURE_2D, texture);
      if (sheet.type === "UNSIGNED_BYTE") {
        gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, top, size, rows, gl[sheet.format], gl[sheet.type], strip);
      } else {
        const floats = new Float32Array(strip.length * 4);
        for (let i = 0; i < strip.length; i++) floats[4 * i] = floats[4 * i + 1] = floats[4 * i + 2] = levels[strip[i]];
        gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, top, size, rows, gl[sheet.format], gl[sheet.type], floats);
      }
    }
    if (!(await finished(gl, stillWanted))) return null;
    return { name: sheet.name, mebibytes: (size * size * sheet.bytes) / 2 ** 20 };
  }
  return null;
}

// The picture once opened: { gl, programs and failures (each size's program,
// or its log where it did not build, by sizeKey), sheet (the label sheet's
// format and size), lost (while the context is gone) }.
export let picture = null;

// A size's key: its width, height and rays a pixel, "640x360x1". Each size has
// a program of its own (its constants are written into its text).
export const sizeKey = ({ width, height, rays }) => `${width}x${height}x${rays}`;

// The program for a size (an edition, or a step of the sized edition) where
// it can draw now (its program built, the label sheet up, the context there),
// else null.
export const programOf = (size) => (picture && !picture.lost && picture.sheet && picture.programs[sizeKey(size)]) || null;

// The size on screen, whose program a lost context's return builds first.
export const onScreen = (size) => picture && (picture.shown = size);

// Who hears of the picture: "built" (a size's program, or its failure),
// "lost" (the context gone), "restored" (it and everything built again) and
// "gone" (not back in time: the page says so and offers to try again).
const listeners = [];
export const whenPicture = (listener) => listeners.push(listener);
const tell = (what, size) => listeners.forEach((listener) => listener(what, size));

// A lost context not back within this long is said, with a button to try again.
const RESTORE_WAIT_MS = 5000;

// Whether this browser builds programs in parallel, off the page's thread: where
// it does not, building one holds the page, and none is built while the show plays.
export const buildsInParallel = () => picture?.gl.getExtension("KHR_parallel_shader_compile") !== null;

// WebGL2 on the canvas, and the programs of the sizes given (the editions, in
// the order they are offered) and the label sheet built behind it
// (picture.ready(size) says when a size can draw, and asks for its program
// where nobody has yet); null after saying why where the browser offers no WebGL2.
export function openPicture(sizes, { preserveDrawingBuffer = false } = {}) {
  const gl = canvas.getContext("webgl2", {
    alpha: false, antialias: false, depth: false, stencil: false, preserveDrawingBuffer,
    powerPreference: "high-performance",
  });
  if (!gl) {
    fail("This browser offers no WebGL2 (or has it turned off), and the show needs it to draw.");
    return null;
  }
  picture = { gl, wanted: [...sizes], preserveDrawingBuffer, programs: {}, failures: {}, sheet: null, lost: false,
    loseContext: gl.getExtension("WEBGL_lose_context") };
  watchContext(picture);
  build(picture);
  return picture;
}

// The label sheet's grey bytes, kept for a lost context's return: inflating
// them again would keep the picture away longer.
let raster = null;

// The label sheet, then the programs wanted, one after another, each telling
// the listeners; picture.ready(size) and picture.allBuilt say when.
function build(opened) {
  const { gl } = opened;
  const take = (opened.take = (opened.take ?? 0) + 1); // a build a context: a lost one's is dropped
  const stillWanted = () => opened.take === take && !gl.isContextLost();
  const sheet = (async () => {
    const started = performance.now();
    raster ??= await inWorker(inflate, BUILT.page);
    opened.sheet = await uploadLabelSheet(gl, raster, BUILT.pageSize, stillWanted);
    timings.labelSheet = performance.now() - started;
    if (!opened.sheet && stillWanted()) fail("The label sheet's texture (4096 × 4096) does not fit this browser's graphics memory.");
  })();
  // The programs after the label sheet: it goes up while the GPU has nothing else to do.
  const programs = {};
  let previous = sheet;
  const ask = (size) => {
    const key = sizeKey(size);
    programs[key] ??= previous = previous.then(async () => {
      const built = await buildProgram(gl, shaderText(size), stillWanted);
      if (!built) return;
      if (built.program) opened.programs[key] = built;
      else opened.failures[key] = built.log;
      tell("built", size);
    });
    return programs[key];
  };
  // The size on screen first (after a lost context, the one the show was drawn at).
  [...(opened.shown ? [opened.shown] : []), ...opened.wanted].forEach(ask);
  // Resolves when the size can draw (its program built and the label sheet up), or cannot.
  opened.ready = (size) => {
    if (!(sizeKey(size) in programs)) opened.wanted.push(size);
    return Promise.all([sheet, ask(size)]).then(() => sizeKey(size) in opened.programs);
  };
  opened.allBuilt = Promise.all([sheet, previous]);
  // Resolves once every program asked for so far (and any asked for meanwhile) is built.
  opened.idle = async () => {
    for (let last = null; last !== previous; ) await (last = previous);
  };
}

// A lost context: the page goes on (its sound and clock), asks for the
// context back, and builds everything again when it comes; not back in time,
// it says so and offers to try again, on a new canvas.
function watchContext(opened) {
  const target = canvas;
  let waiting = 0;
  target.addEventListener("webglcontextlost", (event) => {
    event.preventDefault(); // asks for the context back
    opened.lost = true;
    opened.lostAt = performance.now();
    opened.programs = {};
    opened.failures = {};
    opened.sheet = null;
    tell("lost");
    waiting = setTimeout(() => opened.lost && tell("gone"), RESTORE_WAIT_MS);
  });
  target.addEventListener("webglcontextrestored", async () => {
    clearTimeout(waiting);
    opened.lost = false;
    build(opened);
    // Back once the size on screen can draw again; the others are built behind.
    await opened.ready(opened.shown ?? opened.wanted[0]);
    tell("restored");
  });
}

// Tries again after a context that did not come back: a new canvas in the
// old one's place, with a context of its own.
export function tryAgain() {
  const fresh = canvas.cloneNode();
  canvas.replaceWith(fresh);
  canvas = fresh;
  const { shown, wanted, preserveDrawingBuffer } = picture;
  const opened = openPicture(shown ? [shown, ...wanted] : wanted, { preserveDrawingBuffer });
  if (opened) opened.shown = shown;
  opened?.ready(shown ?? wanted[0]).then(() => tell("restored"));
  return opened;
}

// For tests and the console: the context lost and given back as the browser
// would (through the extension as it was before the loss: a lost context gives none).
export const loseTheContext = () => picture?.loseContext?.loseContext();
export const restoreTheContext = () => picture?.loseContext?.restoreContext();

// The GPU's own time for draws, where the browser measures it
// (EXT_disjoint_timer_query_webgl2; Chromium does, most others do not): each
// draw wrapped with around(), its time read a frame or a few later; latest is
// the last time read, in ms (null until one is). Null where not measured.
export function gpuTimer(gl) {
  const timing = gl.getExtension("EXT_disjoint_timer_query_webgl2");
  if (!timing) return null;
  const pending = [];
  const timer = { latest: null };
  timer.around = (drawing) => {
    while (pending.length && gl.getQueryParameter(pending[0], gl.QUERY_RESULT_AVAILABLE)) {
      const query = pending.shift();
      if (!gl.getParameter(timing.GPU_DISJOINT_EXT)) timer.latest = gl.getQueryParameter(query, gl.QUERY_RESULT) / 1e6;
      gl.deleteQuery(query);
    }
    if (pending.length > 4) return drawing(); // results late: the draw goes on untimed
    const query = gl.createQuery();
    gl.beginQuery(timing.TIME_ELAPSED_EXT, query);
    drawing();
    gl.endQuery(timing.TIME_ELAPSED_EXT);
    pending.push(query);
  };
  return timer;
}

// The canvas's drawing buffer at the edition's size; while playing, the page's
// style shows it as large as the window allows with its shape kept.
export function setCanvasSize(gl, { width, height }) {
  canvas.width = width;
  canvas.height = height;
  canvas.style.setProperty("--aspect", `${width} / ${height}`);
  gl.viewport(0, 0, width, height);
}

// One frame at m, as the native frame loop draws it: the uniform, one
// rectangle; in bands of rows, one draw each, where a frame would take long
// enough in one draw for the browser to reset the GPU. Every pixel is a
// function of its position, m and the label sheet alone, so the bands make
// the very pixels of one draw.
export function draw(gl, program, m, bands = 1) {
  gl.useProgram(program.program);
  gl.uniform1f(program.m, m);
  if (bands <= 1) return gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
  const viewport = gl.getParameter(gl.VIEWPORT);
  if (!viewport) return; // the context is lost
  const [, , width, height] = viewport;
  for (let band = 0; band < bands; band++)
    drawRows(gl, width, Math.floor((band * height) / bands), Math.floor(((band + 1) * height) / bands));
  gl.disable(gl.SCISSOR_TEST);
}

// Rows bottom to top - 1 of the viewport, handed to the GPU as a draw of its
// own (the program and m set); leaves the scissor test on.
export function drawRows(gl, width, bottom, top) {
  gl.enable(gl.SCISSOR_TEST);
  gl.scissor(0, bottom, width, top - bottom);
  gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
  gl.flush();
}

// Draws into the framebuffer target of width x height, with nothing of it
// left bound afterwards, so that the show can draw between any two of these.
export function drawInto(gl, target, width, height, drawing) {
  gl.bindFramebuffer(gl.FRAMEBUFFER, target);
  gl.viewport(0, 0, width, height);
  drawing();
  gl.disable(gl.SCISSOR_TEST);
  gl.bindFramebuffer(gl.FRAMEBUFFER, null);
  gl.viewport(0, 0, gl.canvas.width, gl.canvas.height);
}

// A framebuffer of width x height with an RGBA8 colour buffer, to draw into
// unseen; release() frees both.
export function offscreenTarget(gl, width, height) {
  const framebuffer = gl.createFramebuffer();
  const colour = gl.createRenderbuffer();
  gl.bindRenderbuffer(gl.RENDERBUFFER, colour);
  gl.renderbufferStorage(gl.RENDERBUFFER, gl.RGBA8, width, height);
  drawInto(gl, framebuffer, width, height, () =>
    gl.framebufferRenderbuffer(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.RENDERBUFFER, colour));
  const release = () => {
    gl.deleteFramebuffer(framebuffer);
    gl.deleteRenderbuffer(colour);
  };
  return { framebuffer, release };
}
