// The picture: WebGL2 on the page's canvas, each edition's program, the label
// sheet, and the one way a frame is drawn (draw), which playing, stills, the
// measurement and the video all use.
import { BUILT, inflate } from "./built.js";
import { shaderText } from "./editions.js";
import { fail, timings } from "./page.js";

export const canvas = document.getElementById("canvas");

// The rectangle from (-1, -1) to (1, 1) over the whole canvas, as the native
// show's one rectangle: a strip of its four corners, made from their numbers.
const VERTEX_SHADER = `#version 300 es
void main() {
  gl_Position = vec4(float(gl_VertexID & 1) * 2.0 - 1.0, float(gl_VertexID >> 1) * 2.0 - 1.0, 0.0, 1.0);
}`;

// The program for a shader text, or the compiler's log.
export function makeProgram(gl, fragmentText) {
  const program = gl.createProgram();
  for (const [type, text] of [[gl.VERTEX_SHADER, VERTEX_SHADER], [gl.FRAGMENT_SHADER, fragmentText]]) {
    const shader = gl.createShader(type);
    gl.shaderSource(shader, text);
    gl.compileShader(shader);
    if (!gl.getShaderParameter(shader, gl.COMPILE_STATUS)) return { log: gl.getShaderInfoLog(shader) || "(no log)" };
    gl.attachShader(program, shader);
  }
  gl.linkProgram(program);
  if (!gl.getProgramParameter(program, gl.LINK_STATUS)) return { log: gl.getProgramInfoLog(program) || "(no log)" };
  return { program, m: gl.getUniformLocation(program, "m") };
}

// The label sheet as the native show holds it: each grey byte b of the raster
// as b / 255 in red, green and blue (alpha 0, the raster's fourth byte), 4096
// texels square, filtered linearly, repeating, its first row the top of the
// page, on texture unit 0. Where the browser filters no 32-bit floats, half
// floats, which every WebGL2 filters: each grey then within 1/4096 of b / 255.
// Returns the format used, or null where no texture that large could be made.
function uploadLabelSheet(gl, grey, size) {
  const floatLinear = gl.getExtension("OES_texture_float_linear") !== null;
  for (const format of floatLinear ? ["RGBA32F", "RGBA16F"] : ["RGBA16F"]) {
    const texture = gl.createTexture();
    gl.activeTexture(gl.TEXTURE0);
    gl.bindTexture(gl.TEXTURE_2D, texture);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.LINEAR);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.LINEAR);
    gl.texStorage2D(gl.TEXTURE_2D, 1, gl[format], size, size);
    if (gl.getError() !== gl.NO_ERROR) {
      gl.deleteTexture(texture);
      continue;
    }
    // In strips, so that the floats never all stand in the page's memory at once.
    const levels = Float32Array.from({ length: 256 }, (_, b) => b / 255);
    const rows = 256;
    const strip = new Float32Array(size * rows * 4);
    for (let top = 0; top < size; top += rows) {
      for (let i = 0, at = top * size; i < size * rows; i++, at++) {
        const value = levels[grey[at]];
        strip[4 * i] = strip[4 * i + 1] = strip[4 * i + 2] = value;
      }
      gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, top, size, rows, gl.RGBA, gl.FLOAT, strip);
    }
    return format;
  }
  return null;
}

// What a lost context does to the page: said by whoever shows the picture.
let lostListener = () => {};
export const whenContextLost = (listener) => (lostListener = listener);

// The picture once opened: { gl, programs (by edition name), textureFormat }.
export let picture = null;

// WebGL2 on the canvas, the programs of the editions and the label sheet, as
// picture; null after saying why where any of it cannot be had.
export async function openPicture(editions, { preserveDrawingBuffer = false } = {}) {
  const gl = canvas.getContext("webgl2", {
    alpha: false, antialias: false, depth: false, stencil: false, preserveDrawingBuffer,
    powerPreference: "high-performance",
  });
  if (!gl) {
    fail("This browser offers no WebGL2 (or has it turned off), and the show needs it to draw.");
    return null;
  }
  canvas.addEventListener("webglcontextlost", () => lostListener());
  const programs = {};
  for (const edition of editions) {
    const made = makeProgram(gl, shaderText(edition));
    if (!made.program) {
      fail(`The shader did not compile in this browser:\n${made.log}`);
      return null;
    }
    programs[edition.name] = made;
  }
  const started = performance.now();
  const textureFormat = uploadLabelSheet(gl, await inflate(BUILT.page), BUILT.pageSize);
  timings.labelSheet = performance.now() - started;
  if (!textureFormat) {
    fail("The label sheet's texture (4096 × 4096) does not fit this browser's graphics memory.");
    return null;
  }
  picture = { gl, programs, textureFormat };
  return picture;
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
  const [, , width, height] = gl.getParameter(gl.VIEWPORT);
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
