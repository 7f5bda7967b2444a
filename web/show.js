// korvatine in a browser: the song made by the show's own code in WebAssembly,
// the picture drawn by the show's own shader in WebGL2. The page opens on a
// start screen (browsers start sound only after a gesture), which measures how
// this machine draws each edition and says how each will play; #m=T draws one
// moment alone, and #check says whether this browser plays the show as designed.
// BUILT (written in by the build) holds the song module, the label sheet's
// raster, the shader texts, each edition's size and the designed song's digest.

const root = document.documentElement;
const canvas = document.getElementById("canvas");
const stage = document.getElementById("stage");
const line = document.getElementById("line");

// How long the steps took, in milliseconds (ready: since the page was opened).
const timings = {};

function setState(state) {
  root.dataset.state = state;
}

function say(text) {
  line.textContent = text;
}

// What keeps the show from playing, said in one line; nothing is thrown.
function fail(text) {
  root.classList.remove("still");
  say(text);
  setState("failed");
}

const nextFrame = () => new Promise((resolve) => requestAnimationFrame(resolve));

async function inflate(base64) {
  const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
  const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate-raw"));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

// --- The picture -------------------------------------------------------------

// The rectangle from (-1, -1) to (1, 1) over the whole canvas, as the native
// show's one rectangle: a strip of its four corners, made from their numbers.
const VERTEX_SHADER = `#version 300 es
void main() {
  gl_Position = vec4(float(gl_VertexID & 1) * 2.0 - 1.0, float(gl_VertexID >> 1) * 2.0 - 1.0, 0.0, 1.0);
}`;

// The program for one edition's shader text, or the compiler's log.
function makeProgram(gl, fragmentText) {
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

// WebGL2 on the canvas, the programs of the named editions and the label
// sheet; null after saying why where any of it cannot be had.
async function openPicture(editions, { preserveDrawingBuffer = false } = {}) {
  const gl = canvas.getContext("webgl2", {
    alpha: false, antialias: false, depth: false, stencil: false, preserveDrawingBuffer,
    powerPreference: "high-performance",
  });
  if (!gl) {
    fail("This browser offers no WebGL2 (or has it turned off), and the show needs it to draw.");
    return null;
  }
  canvas.addEventListener("webglcontextlost", () => {
    endShow();
    fail("The browser took the picture away (its WebGL context was lost); reload the page to play again.");
  });
  const programs = {};
  for (const edition of editions) {
    const made = makeProgram(gl, BUILT.shaders[edition]);
    if (!made.program) {
      fail(`The shader did not compile in this browser:\n${made.log}`);
      return null;
    }
    programs[edition] = made;
  }
  const started = performance.now();
  const textureFormat = uploadLabelSheet(gl, await inflate(BUILT.page), BUILT.pageSize);
  timings.labelSheet = performance.now() - started;
  if (!textureFormat) {
    fail("The label sheet's texture (4096 × 4096) does not fit this browser's graphics memory.");
    return null;
  }
  return { gl, programs, textureFormat };
}

// The canvas's drawing buffer at the edition's size; while playing, the page's
// style shows it as large as the window allows with its shape kept.
function setCanvasSize(gl, edition) {
  const { width, height } = BUILT.builds[edition];
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
function draw(gl, program, m, bands = 1) {
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
function drawRows(gl, width, bottom, top) {
  gl.enable(gl.SCISSOR_TEST);
  gl.scissor(0, bottom, width, top - bottom);
  gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
  gl.flush();
}

// --- How this machine draws each edition ---------------------------------------

// The moments that cost the most to draw in both editions (the frame benchmark
// over the whole show: the opening's close view and the last cuts before the fade).
const HEAVIEST_MOMENTS = [5, 67.5];
// A draw that runs longer than this risks the browser resetting the GPU, so
// longer frames are drawn in bands of about BAND_MS each.
const SAFE_DRAW_MS = 100;
const BAND_MS = 50;
// Where the frame time is not known yet: bands of at most 45 rows.
const UNMEASURED_BAND_ROWS = 45;
// The measurement gives up on an edition after this long, and says it is slower.
const MEASURE_BUDGET_MS = 5000;

// Milliseconds a frame of each edition takes here, at its heaviest moment, once measured.
const frameTimes = {};

// How many bands a frame of the edition is drawn in.
function bandsFor(edition) {
  const ms = frameTimes[edition];
  if (ms === undefined) return Math.ceil(BUILT.builds[edition].height / UNMEASURED_BAND_ROWS);
  return ms > SAFE_DRAW_MS ? Math.min(Math.ceil(ms / BAND_MS), BUILT.builds[edition].height) : 1;
}

// How an edition plays at a frame time, in a viewer's words: 50 frames a
// second and more is smooth on a 60 Hz screen; under 24, film's rate, the
// camera's circling visibly stutters.
function howItPlays(ms) {
  const fps = 1000 / ms;
  return fps >= 50 ? "smooth here" : fps >= 24 ? "plays here, not smoothly" : "too slow to watch here";
}

// Frames a second at a frame time, in words (a screen shows at most 60).
function frameRate(ms) {
  const fps = 1000 / ms;
  if (fps >= 60) return "60 frames a second";
  return fps < 1 ? "under one frame a second" : `about ${Math.floor(fps)} frames a second`;
}

// Draws into the framebuffer target of width x height, with nothing of it
// left bound afterwards, so that the show can draw between any two of these.
function drawInto(gl, target, width, height, drawing) {
  gl.bindFramebuffer(gl.FRAMEBUFFER, target);
  gl.viewport(0, 0, width, height);
  drawing();
  gl.disable(gl.SCISSOR_TEST);
  gl.bindFramebuffer(gl.FRAMEBUFFER, null);
  gl.viewport(0, 0, gl.canvas.width, gl.canvas.height);
}

// A framebuffer of width x height with an RGBA8 colour buffer, to draw into
// unseen; release() frees both.
function offscreenTarget(gl, width, height) {
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

const nextTask = () => new Promise((resolve) => setTimeout(resolve, 0));

// Milliseconds one frame of the edition at m takes here, drawn into target.
// Each piece of work is timed to a pixel read back from it, which waits for
// the GPU: pieces are kept to about BAND_MS, and the page answers between
// them. First a sample of the frame: strips spread evenly over its height
// (rows cost very differently: the bars are free, the instruments dear), each
// 16 rows from a multiple of 16, since GPUs shade blocks of pixels (llvmpipe's
// are 16 rows high: a thinner strip costs as much). Then, where a whole frame
// is short, several frames in a row, else the frame band by band. Past
// deadline it stops with the sample's estimate. Null when stopped.
async function measureFrame(gl, program, target, edition, m, deadline, stopped) {
  const { width, height } = BUILT.builds[edition];
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

// Measures each edition not yet measured at its heaviest moments, in a
// framebuffer of its size, and says how it plays; stops, unfinished, when the
// show starts (and measures again when the start screen returns).
let measuring = null;
async function measureEditions() {
  if (measuring) return;
  const { gl } = picture;
  const run = { stopped: false };
  const stopped = () => run.stopped || gl.isContextLost();
  measuring = run;
  const started = performance.now();
  const stalls = watchStalls();
  for (const edition of Object.keys(BUILT.builds)) {
    if (frameTimes[edition] !== undefined) continue;
    const { width, height } = BUILT.builds[edition];
    const { framebuffer: target, release } = offscreenTarget(gl, width, height);
    const deadline = performance.now() + MEASURE_BUDGET_MS;
    let slowest = 0;
    for (const m of HEAVIEST_MOMENTS) {
      const ms = await measureFrame(gl, picture.programs[edition], target, edition, m, deadline, stopped);
      if (ms === null) break;
      slowest = Math.max(slowest, ms);
      if (performance.now() > deadline) break;
    }
    release();
    if (stopped()) break;
    frameTimes[edition] = slowest;
    sayHowItPlays();
  }
  stalls.stop();
  if (measuring === run) measuring = null;
  if (!run.stopped) timings.measuring = { ms: performance.now() - started, longestStall: stalls.longest };
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

function stopMeasuring() {
  if (measuring) measuring.stopped = true;
  measuring = null;
}

// Beside each edition on the start screen: how it plays here, or that it is being measured.
function sayHowItPlays() {
  for (const edition of Object.keys(BUILT.builds)) {
    const ms = frameTimes[edition];
    document.getElementById(`plays-${edition}`).textContent =
      ms === undefined ? "measuring how it plays here…" : `${howItPlays(ms)} (${frameRate(ms)})`;
  }
  videoPlan?.then((plan) => !plan.problem && sayVideoOffer(plan.full));
}

// --- The song ----------------------------------------------------------------

// The song module instantiated and the song synthesised: the stream as the
// native callback hands it over, and the values Web Audio is given.
async function makeSong() {
  const { instance } = await WebAssembly.instantiate(await inflate(BUILT.module), {});
  const song = instance.exports;
  song._initialize();
  const started = performance.now();
  song.synthesise();
  timings.synthesis = performance.now() - started;
  const memory = song.memory.buffer;
  return {
    rate: song.playback_rate(),
    titleCard: song.title_card_ms() / 1000,
    stream: new Uint8Array(memory, song.stream(), song.stream_length()),
    played: new Float32Array(memory, song.played(), song.played_count()),
  };
}

// Seconds of the song heard: the audio context's time, less the output latency
// the browser reports, since the song started. The context's time moves in
// steps of its buffers, so between steps the page's timer carries it on, at
// most a tenth of a second (a sound that stalls holds the picture too).
function audioClock(context, startedAt) {
  let step = -1;
  let stepAt = 0;
  let heard = 0;
  return () => {
    const now = performance.now();
    if (context.currentTime !== step) {
      step = context.currentTime;
      stepAt = now;
    }
    const latency = context.outputLatency ?? context.baseLatency ?? 0;
    heard = Math.max(heard, step - latency - startedAt + Math.min((now - stepAt) / 1000, 0.1));
    return heard;
  };
}

function pageClock() {
  const startedAt = performance.now();
  return () => (performance.now() - startedAt) / 1000;
}

// --- Playing -----------------------------------------------------------------

let picture = null;
let song = null;
let soundBuffer = null;
let soundProblem = "";
let startScreenNote = ""; // what the start screen says of how this browser plays the show
let context = null; // made on the first start: browsers allow sound only after a gesture
let show = null; // the show playing

function startShow(edition, requestedAt = performance.now()) {
  if (root.dataset.state !== "ready") return;
  stopMeasuring();
  setState("playing");
  say("");
  show = { clock: null, source: null, requestedAt, drawn: 0 };
  showEdition(edition);
  startSound(show);
  requestAnimationFrame(frame);
}

// The edition the show is drawn in, from the next frame on; the sound and the
// clock go on as they are.
function showEdition(edition) {
  const playing = show;
  playing.edition = edition;
  playing.program = picture.programs[edition];
  playing.recentFrames = []; // when its recent frames were drawn
  playing.slowLineAt = null;
  setCanvasSize(picture.gl, edition);
  if (edition === "full") stage.requestFullscreen?.().catch(() => {}); // refused: letterboxed in the window
  else if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  say(playing.note ?? "");
}

const otherEdition = (edition) => (edition === "full" ? "small" : "full");

// While an edition plays slower than 24 frames a second for a few seconds,
// one line says so for a few seconds, once an edition, naming the switch key.
const SLOW_FPS = 24;
const SLOW_SECONDS = 3;
const SLOW_LINE_SECONDS = 6;
function watchFrameRate(playing, now) {
  const times = playing.recentFrames;
  times.push(now);
  while (times.length > 2 && now - times[1] > SLOW_SECONDS * 1000) times.shift();
  if (playing.slowLineAt === null && now - times[0] >= SLOW_SECONDS * 1000) {
    const fps = ((times.length - 1) * 1000) / (now - times[0]);
    if (fps < SLOW_FPS) {
      playing.slowLineAt = now;
      const other = otherEdition(playing.edition);
      // Only a switch to the cheaper edition helps (unmeasured: the one with fewer rays to trace).
      const rays = ({ width, height, rays }) => width * height * rays;
      const cheaper = other in frameTimes && playing.edition in frameTimes
        ? frameTimes[other] < frameTimes[playing.edition]
        : rays(BUILT.builds[other]) < rays(BUILT.builds[playing.edition]);
      say(`The ${playing.edition} edition plays at ${frameRate(1000 / fps)} here: ` +
        (cheaper ? `F switches to the ${other} edition.` : `the ${other} edition (F) draws slower still.`));
    }
  } else if (playing.slowLineAt && now - playing.slowLineAt > SLOW_LINE_SECONDS * 1000) {
    playing.slowLineAt = Infinity;
    say(playing.note ?? "");
  }
}

// The sound and the clock start together; where the browser has no sound for
// the show or holds it back, the picture plays alone on the page's timer.
function startSound(playing) {
  const alone = (why) => {
    if (playing !== show || playing.clock) return;
    playing.clock = pageClock();
    playing.note = `No sound, picture only: ${why}.`;
    say(playing.note);
  };
  if (!soundBuffer) return alone(soundProblem);
  try {
    context ??= new AudioContext();
  } catch (error) {
    return alone(`the browser could not open its sound output (${error.message})`);
  }
  const source = new AudioBufferSourceNode(context, { buffer: soundBuffer });
  source.connect(context.destination);
  const begin = () => {
    if (playing !== show || playing.clock) return;
    const startedAt = context.currentTime;
    source.start(startedAt);
    source.onended = () => playing === show && endShow();
    playing.source = source;
    playing.clock = audioClock(context, startedAt);
  };
  if (context.state === "running") begin();
  else context.resume().then(begin, () => alone("the browser did not start the sound"));
  setTimeout(() => alone("the browser did not start the sound"), 1500);
}

function frame() {
  const playing = show;
  if (!playing) return;
  const heard = playing.clock ? playing.clock() : 0;
  if (heard >= song.duration) return endShow();
  playing.m = heard - song.titleCard;
  draw(picture.gl, playing.program, playing.m, bandsFor(playing.edition));
  const now = performance.now();
  // The first frame is on screen when the next one is asked for.
  if (playing.drawn++ === 1) timings.firstFrame = now - playing.requestedAt;
  watchFrameRate(playing, now);
  requestAnimationFrame(frame);
}

// Escape, leaving fullscreen or the song's end: the sound stops at once and
// the start screen returns, ready to start again.
function endShow() {
  const playing = show;
  if (!playing) return;
  show = null;
  if (playing.source) {
    playing.source.onended = null;
    playing.source.stop();
    playing.source.disconnect();
  }
  if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  setState("ready");
  say(playing.note ?? startScreenNote);
  measureEditions();
}

async function prepareShow() {
  await nextFrame(); // the start screen shows while the rest is made
  picture = await openPicture(["small", "full"]);
  if (!picture) return;
  // The first draw with a program is where some drivers build it: one pixel
  // each now, rather than a stall after Enter.
  picture.gl.viewport(0, 0, 1, 1);
  for (const program of Object.values(picture.programs)) draw(picture.gl, program, 20);
  picture.gl.finish();
  try {
    song = await makeSong();
  } catch (error) {
    return fail(`The song could not be made in this browser: ${error.message}`);
  }
  song.duration = song.played.length / song.rate;
  try {
    soundBuffer = new AudioBuffer({ length: song.played.length, sampleRate: song.rate, numberOfChannels: 1 });
    soundBuffer.copyToChannel(song.played, 0);
  } catch (error) {
    soundProblem = typeof AudioBuffer === "undefined" ? "this browser has no Web Audio" : error.message;
  }
  const notes = [];
  if (picture.textureFormat !== "RGBA32F")
    notes.push("This browser filters no 32-bit float textures: the label sheet is held in half floats.");
  if (soundProblem) notes.push(`No sound, picture only: ${soundProblem}.`);
  startScreenNote = notes.join("\n");
  say(startScreenNote);
  await offerVideo();
  timings.ready = performance.now();
  setState("ready");
  sayHowItPlays();
  measureEditions();
}

document.addEventListener("keydown", (event) => {
  if (root.dataset.state === "playing") {
    if (event.key === "Escape") endShow();
    else if ((event.key === "f" || event.key === "F") && !event.repeat) showEdition(otherEdition(show.edition));
    return;
  }
  // A focused button starts its own edition.
  if (event.repeat || event.target instanceof HTMLButtonElement) return;
  if (event.key === "Enter" || event.key === " ") startShow("small", event.timeStamp);
  else if (event.key === "f" || event.key === "F") startShow("full", event.timeStamp);
  else if ((event.key === "v" || event.key === "V") && !document.getElementById("video-offer").hidden) makeVideo("full");
});
document.getElementById("screen").addEventListener("click", (event) => {
  if (!event.target.closest("a, #play-full, #make-video")) startShow("small", event.timeStamp);
});
document.getElementById("make-video").addEventListener("click", () => makeVideo("full"));
document.getElementById("play-full").addEventListener("click", (event) => startShow("full", event.timeStamp));
// Leaving fullscreen from the full edition goes on in the small one.
document.addEventListener("fullscreenchange", () => {
  if (!document.fullscreenElement && show?.edition === "full") showEdition("small");
});

// --- A still: #m=T, #m=T&full, and &bands=N ------------------------------------

// Drawn in bands of rows as a frame of unknown cost is (bands=1: in one draw).
async function drawStill(m, edition, bands = bandsFor(edition)) {
  root.classList.add("still");
  say("");
  const opened = await openPicture([edition], { preserveDrawingBuffer: true });
  if (!opened) return;
  setCanvasSize(opened.gl, edition);
  draw(opened.gl, opened.programs[edition], m, bands);
  await nextFrame();
  await nextFrame(); // drawn and shown
  setState("still");
}

// --- The check page: #check ------------------------------------------------------

async function check() {
  root.classList.add("check");
  const findings = [];
  const lines = [];
  const note = (what, finding, asDesigned) => {
    findings.push(asDesigned);
    lines.push(`${asDesigned ? "ok" : "DIFFERS"}  ${what}: ${finding}`);
  };
  say("Checking this browser…");
  await nextFrame();
  const gl = canvas.getContext("webgl2");
  note("WebGL2", gl ? "yes" : "no: the show cannot draw here", Boolean(gl));
  if (gl) {
    const floatLinear = gl.getExtension("OES_texture_float_linear") !== null;
    const halfFloats = "no: the label sheet would be held in half floats";
    note("Float textures with linear filtering", floatLinear ? "yes" : halfFloats, floatLinear);
    for (const edition of Object.keys(BUILT.builds)) {
      const made = makeProgram(gl, BUILT.shaders[edition]);
      note(`The ${edition} edition's shader`, made.program ? "compiled" : `did not compile:\n${made.log}`,
        Boolean(made.program));
    }
  }
  try {
    const made = await makeSong();
    const digest = sha256Hex(made.stream);
    const same = digest === BUILT.streamDigest;
    const designed = `the designed song's: ${BUILT.streamDigest} (${same ? "same" : "different"})`;
    note("The song's stream", `SHA-256 ${digest}\n    ${designed}`, same);
    note("Song synthesis", `${Math.round(timings.synthesis)} ms`, true);
  } catch (error) {
    note("The song", `could not be made: ${error.message}`, false);
  }
  note("Web Audio", typeof AudioContext === "undefined" ? "no: the picture would play alone" : "yes",
    typeof AudioContext !== "undefined");
  lines.push(await videoCheckLine());
  const verdict = `This browser plays the show ${findings.every(Boolean) ? "as designed" : "otherwise"}.`;
  const report = document.getElementById("report");
  report.textContent = [verdict, "", ...lines, "", "Measuring how each edition plays here…"].join("\n");
  const rates = await measuredRates();
  report.textContent = [verdict, "", ...lines, "", ...rates].join("\n");
  say("");
  setState("checked");
}

// The check page's lines on how each edition plays here, and which plays smoothly.
async function measuredRates() {
  picture = await openPicture(Object.keys(BUILT.builds));
  if (!picture) return ["How it plays here: not known, the picture could not be opened."];
  await measureEditions();
  const lines = [];
  for (const [edition, ms] of Object.entries(frameTimes)) {
    const fps = 1000 / ms;
    lines.push(`The ${edition} edition: ${ms.toFixed(ms < 10 ? 1 : 0)} ms a frame at its heaviest, ` +
      `${fps.toFixed(fps < 10 ? 1 : 0)} frames a second: ${howItPlays(ms)}`);
  }
  const smooth = Object.keys(frameTimes).filter((edition) => 1000 / frameTimes[edition] >= 50);
  lines.push(smooth.length ? `This browser plays the ${smooth.join(" and the ")} edition smoothly.`
    : "This browser plays neither edition smoothly.");
  return lines;
}

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
  // The show playing: its edition and the m of its last frame.
  get playing() {
    return show && { edition: show.edition, m: show.m ?? null };
  },
  get audioContext() {
    return context;
  },
  get songStream() {
    return song?.stream;
  },
  get soundBuffer() {
    return soundBuffer;
  },
};

const still = /^#m=(-?[0-9.]+)(&full)?(?:&bands=([0-9]+))?$/.exec(location.hash);
if (still) drawStill(Number(still[1]), still[2] ? "full" : "small", still[3] ? Number(still[3]) : undefined);
else if (location.hash === "#check") check();
else if (/^#video(&|$)/.test(location.hash)) videoByLink(new URLSearchParams(location.hash.slice(7)));
else prepareShow();
