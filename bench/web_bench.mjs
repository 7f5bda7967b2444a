// The browser edition's numbers, in Debian's headless Chromium beside the
// native programs on this machine: the page's size and parts, song synthesis,
// the time from opening the page to its start screen and the longest the page
// was held meanwhile, from Enter to the first frame, from a seek or a pause to
// its frame, from a lost context to drawing again, the small edition's frame
// time playing, each edition's frame time as the start screen measures it
// beside the frame benchmark's at the same moments, the sized edition's steps
// and a minute of its play, and how far the stills are from the capture tool's
// frames, on llvmpipe and in SwiftShader. Prints
// the machine first. PAGE measures another page (an earlier build's, say)
// with this build's tools; what it cannot do is left out.
//
//   node bench/web_bench.mjs BUILD_DIR [rounds] [PAGE]
import { execFileSync } from "node:child_process";
import { mkdirSync, readFileSync, writeFileSync } from "node:fs";
import { cpus, release } from "node:os";
import { join, resolve } from "node:path";
import { pathToFileURL } from "node:url";

import { Chromium, SWIFTSHADER_WEBGL, SYSTEM_WEBGL, WATCH_LONG_TASKS, longestHoldToReady } from "../web/tests/chromium.mjs";
import { pixelsOff } from "../web/tests/pictures.mjs";

const build = resolve(process.argv[2] ?? "build");
const rounds = Number(process.argv[3] ?? 5);
const pagePath = resolve(process.argv[4] ?? join(build, "web", "korvatine.html"));
const pageUrl = pathToFileURL(pagePath).href;

const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];
const spread = (measured) => {
  const values = measured.filter((value) => value !== undefined && value !== null);
  if (!values.length) return "not measured";
  const [low, high] = [Math.min(...values), Math.max(...values)];
  return `${median(values).toFixed(0)} (${low.toFixed(0)} to ${high.toFixed(0)}, ${values.length} runs)`;
};
const sleep = (seconds) => new Promise((resolve) => setTimeout(resolve, seconds * 1000));

async function withBrowser(work, webgl = SYSTEM_WEBGL) {
  const browser = await Chromium.launch([], {}, webgl);
  try {
    return await work(browser);
  } finally {
    await browser.close();
  }
}

const chromium = execFileSync("chromium", ["--version"], { encoding: "utf8", stdio: ["ignore", "pipe", "ignore"] });
const renderer = await withBrowser(async (browser) => {
  await browser.open("about:blank");
  return browser.evaluate(`(() => { const gl = document.createElement("canvas").getContext("webgl2");
    const about = gl?.getExtension("WEBGL_debug_renderer_info");
    return gl ? gl.getParameter(about.UNMASKED_RENDERER_WEBGL) : "no WebGL2"; })()`);
});
console.log("== machine");
console.log(`${cpus()[0].model}, ${cpus().length} cores, Linux ${release()}; ${chromium.trim()}; WebGL: ${renderer}`);

console.log("== the page and its parts (bytes)");
const page = readFileSync(pagePath, "utf8");
// The build's data as JSON in a script element of its own (or, in pages made before, in the script).
const builtJson = /<script type="application\/json" id="built">(.*?)<\/script>/s.exec(page)?.[1];
const built = JSON.parse(builtJson ?? /const BUILT = (\{.*\});\n/.exec(page)[1]);
// The shader: one text for any size (or, in pages made before, one an edition).
const shaders = JSON.stringify(built.shader ?? built.shaders).length;
const script = builtJson ? /<script type="module">(.*?)<\/script>/s.exec(page)[1].length
  : page.length - page.indexOf("};\n", page.indexOf("const BUILT")) - 3;
const total = Buffer.byteLength(page);
const rest = total - built.module.length - built.page.length - shaders;
console.log(`korvatine.html ${total}: WebAssembly ${built.module.length}, label sheet ${built.page.length}, ` +
  `shader ${shaders}, script and the rest of the page ${rest} (of which the script ${script})`);

console.log("== song synthesis, ms (in the page its wall-clock time; natively the median of 9 runs' processor time, " +
  "compiled as the show is)");
const native = [];
const inPage = [];
await withBrowser(async (browser) => {
  for (let round = 0; round < rounds; round++) {
    const report = execFileSync(join(build, "bench", "korvatine_song_bench"), { encoding: "utf8" });
    native.push(Number(/whole synthesis:\s+([0-9.]+) ms/.exec(report)[1]));
    await browser.open(`${pageUrl}#check`);
    await browser.waitForState(["checked"]);
    inPage.push(await browser.evaluate("korvatine.timings.synthesis"));
  }
});
const ratio = (median(inPage) / median(native)).toFixed(2);
console.log(`native ${spread(native)}; in the page ${spread(inPage)}; ${ratio} times`);

const renderers = { llvmpipe: SYSTEM_WEBGL, SwiftShader: SWIFTSHADER_WEBGL };
const results = {};
for (const [name, webgl] of Object.entries(renderers)) {
  const result = (results[name] = { ready: [], held: [], firstFrame: [], seek: [], pause: [], lost: [], frameTimes: [],
    small: [], full: [], measuring: [], stall: [], changes: [] });
  for (let round = 0; round < rounds; round++) {
    await withBrowser(async (browser) => {
      await browser.withScriptOnNewDocument(WATCH_LONG_TASKS, () => browser.open(pageUrl));
      await browser.waitForState(["ready"]);
      result.ready.push(await browser.evaluate("korvatine.timings.ready"));
      result.held.push(await longestHoldToReady(browser));
      await browser.press("Enter", "Enter", 13); // at once, while the start screen measures
      await browser.waitForState(["playing"]);
      await sleep(3); // past the title card
      result.firstFrame.push(await browser.evaluate("korvatine.timings.firstFrame"));
      // A seek (→) to its first frame on screen, and a pause (Space) to its held frame, then on;
      // a context lost and given back at once, to the first frame drawn again.
      if (await browser.evaluate("'loseContext' in korvatine")) {
        for (const [what, key, code, keyCode] of [["seek", "ArrowRight", "ArrowRight", 39], ["pause", " ", "Space", 32]]) {
          await browser.press(key, code, keyCode);
          await sleep(1);
          result[what].push((await browser.evaluate(`korvatine.timings.${what}`)).ms);
        }
        await browser.press(" ", "Space", 32);
        await browser.evaluate("korvatine.loseContext()");
        await sleep(0.2); // the context may be given back once the page has heard it is lost
        await browser.evaluate("korvatine.restoreContext()");
        await sleep(3);
        result.lost.push(await browser.evaluate("korvatine.timings.drawingAgain"));
      }
      // Frames as the show draws them, 30 in a row.
      result.frameTimes.push(await browser.evaluate(`new Promise((resolve) => {
        let frames = 0; const started = performance.now();
        const count = () =>
          ++frames < 30 ? requestAnimationFrame(count) : resolve((performance.now() - started) / frames);
        requestAnimationFrame(count); })`));
      // The auto edition, started before the measurement said where (at 640 x 360), and where it went.
      result.changes.push(...((await browser.evaluate("korvatine.timings.sizes")) ?? []));
      await browser.press("Escape", "Escape", 27);
      await browser.waitForState(["ready"]);
      // The start screen measures again, whole, once it is back.
      while (!(await browser.evaluate("korvatine.timings.measuring"))) await sleep(0.2);
      const { frameTimes, measuring } = await browser.evaluate(
        "({ frameTimes: korvatine.frameTimes, measuring: korvatine.timings.measuring })");
      result.small.push(frameTimes.small);
      result.full.push(frameTimes.full);
      result.measuring.push(measuring.ms);
      result.stall.push(measuring.longestStall);
    }, webgl);
  }
}
console.log("== opening the page to its start screen (ready), the longest the page was held from its first paint " +
  "to ready, Enter (at once) to the first frame, a seek and a pause to their frames on screen, a lost context " +
  "to drawing again, ms (a new browser each run)");
for (const [name, result] of Object.entries(results))
  console.log(`${name}: ready ${spread(result.ready)}; held at the most ${spread(result.held)}; ` +
    `Enter to the first frame ${spread(result.firstFrame)}; a seek to its first frame ${spread(result.seek)}; ` +
    `a pause to its held frame ${spread(result.pause)}; a lost context to drawing again ${spread(result.lost)}`);
const frameTimes = results.llvmpipe.frameTimes;

console.log("== the auto edition started at once (at 640 x 360, before the measurement): its changes of size in the " +
  "first seconds, and the frame just after each, ms");
for (const [name, { changes }] of Object.entries(results))
  console.log(`${name}: ${changes.length} changes in ${rounds} runs (${[...new Set(changes.map(({ size }) =>
    `${size.width}x${size.height}x${size.rays}`))].join(", ") || "none"}); the frame after a change ${spread(changes.map((change) => change.next))}`);

console.log("== each edition's frame time as the start screen measures it (the slower of m = 5 and 67.5), ms");
for (const [name, result] of Object.entries(results)) {
  console.log(`${name}: small ${spread(result.small)}; full ${spread(result.full)}`);
  console.log(`${name}: the measurement took ${spread(result.measuring)}; the page's longest time without ` +
    `answering during it ${spread(result.stall)}`);
}

console.log("== frame time of the edition Enter plays (the auto edition, at its size here; before it, the small), ms");
console.log(`in the page, playing from about m = 1 on: ${spread(frameTimes)}`);
const labelPage = join(build, "web", "bench-page.png");
execFileSync(join(build, "tools", "korvatine_capture"), ["page", "--out", labelPage]);
const nativeFrames = execFileSync(join(build, "bench", "korvatine_frame_bench"),
  ["--build", "small", "--times", "5,67.5", "--frames", "10", "--page", labelPage], { encoding: "utf8" });
console.log(`natively (korvatine_frame_bench, the same rasteriser without the browser):\n${nativeFrames.trim()}`);
const nativeFull = execFileSync(join(build, "bench", "korvatine_frame_bench"),
  ["--build", "full", "--times", "5,67.5", "--frames", "2", "--page", labelPage], { encoding: "utf8" });
console.log(nativeFull.trim().split("\n").filter((line) => line.startsWith("full")).join("\n"));

console.log("== the sized edition in a 1280 x 720 window: each step's frame time at the show's heaviest moments, " +
  "where it starts, and a minute of play from the start: frames a second after the first 6 s, changes of size, " +
  "the longest frame at a change");
for (const [name, webgl] of Object.entries(renderers)) {
  await withBrowser(async (browser) => {
    await browser.viewport(1280, 720);
    await browser.open(pageUrl);
    await browser.waitForState(["ready"]);
    if (!(await browser.evaluate("'sizedPlan' in korvatine"))) return console.log(`${name}: no sized edition`);
    while ((await browser.evaluate("korvatine.sizedPlan.ms")) === null) await sleep(0.5);
    const planned = await browser.evaluate("korvatine.sizedPlan");
    const times = [];
    for (const step of planned.steps)
      times.push(`${step.width}x${step.height}x${step.rays} ${(await browser.evaluate(`korvatine.measure(${JSON.stringify(step)})`)).toFixed(0)}`);
    console.log(`${name}: steps (ms a frame): ${times.join(", ")}`);
    const start = planned.steps[planned.at];
    console.log(`${name}: starts at ${start.width}x${start.height}x${start.rays} ` +
      `(${(1000 / planned.ms).toFixed(1)} frames a second by the measurement)`);
    await browser.press("Enter", "Enter", 13);
    await browser.waitForState(["playing"]);
    await sleep(6);
    const first = await browser.evaluate("korvatine.playing");
    await sleep(54);
    const last = await browser.evaluate("korvatine.playing");
    const sizes = (await browser.evaluate("korvatine.timings.sizes")) ?? [];
    const longest = Math.max(0, ...sizes.map((change) => change.next ?? 0));
    console.log(`${name}: after a minute at ${last.size}, ${((last.drawn - first.drawn) / 54).toFixed(1)} frames a second ` +
      `from 6 s on; ${sizes.length} changes (${sizes.map(({ size }) => `to ${size.width}x${size.height}x${size.rays}`)
      .join(", ") || "none"}); the longest frame at a change ` +
      `${longest.toFixed(0)} ms`);
  }, webgl);
}

console.log("== stills of the small edition against the capture tool's frames: the share of pixels off by more than " +
  "2/255, per cent");
const scratch = join(build, "web", "bench-stills");
mkdirSync(scratch, { recursive: true });
const STILL_MOMENTS = [-1, 5, 20, 50, 67.5];
for (const m of STILL_MOMENTS)
  execFileSync(join(build, "tools", "korvatine_capture"), ["frame", "--build", "small", "--time", String(m), "--out",
    join(scratch, `native_${m}.png`)]);
for (const [name, webgl] of Object.entries(renderers)) {
  const shares = await withBrowser(async (browser) => {
    const found = [];
    for (const m of STILL_MOMENTS) {
      await browser.open(`${pageUrl}#m=${m}`);
      await browser.waitForState(["still"], 120);
      const shot = join(scratch, `${name}_${m}.png`);
      writeFileSync(shot, await browser.screenshot(640, 360));
      found.push(`m = ${m}: ${((100 * pixelsOff(shot, join(scratch, `native_${m}.png`), 2)) / (640 * 360)).toFixed(2)}`);
    }
    return found;
  }, webgl);
  console.log(`${name}: ${shares.join("; ")}`);
}
