// The browser edition's numbers, in Debian's headless Chromium beside the
// native programs on this machine: the page's size and parts, song synthesis,
// the time from opening the page to its start screen, from Enter to the first
// frame and from a seek or a pause to its frame, the small edition's frame time playing, and each edition's
// frame time as the start screen measures it beside the frame benchmark's at
// the same moments, on llvmpipe and in SwiftShader. Prints the machine first.
//
//   node bench/web_bench.mjs BUILD_DIR [rounds]
import { execFileSync } from "node:child_process";
import { readFileSync } from "node:fs";
import { cpus, release } from "node:os";
import { join, resolve } from "node:path";
import { pathToFileURL } from "node:url";

import { Chromium, SWIFTSHADER_WEBGL, SYSTEM_WEBGL } from "../web/tests/chromium.mjs";

const build = resolve(process.argv[2] ?? "build");
const rounds = Number(process.argv[3] ?? 5);
const pagePath = join(build, "web", "korvatine.html");
const pageUrl = pathToFileURL(pagePath).href;

const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];
const spread = (values) => {
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
const built = JSON.parse(/<script type="application\/json" id="built">(.*?)<\/script>/s.exec(page)[1]);
const shaders = Object.values(built.shaders).reduce((sum, text) => sum + JSON.stringify(text).length, 0);
const script = /<script type="module">(.*?)<\/script>/s.exec(page)[1].length;
const total = Buffer.byteLength(page);
const rest = total - built.module.length - built.page.length - shaders;
console.log(`korvatine.html ${total}: WebAssembly ${built.module.length}, label sheet ${built.page.length}, ` +
  `shader texts ${shaders}, script and the rest of the page ${rest} (of which the script ${script})`);

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
  const result = (results[name] = { ready: [], firstFrame: [], seek: [], pause: [], frameTimes: [], small: [], full: [],
    measuring: [], stall: [] });
  for (let round = 0; round < rounds; round++) {
    await withBrowser(async (browser) => {
      await browser.open(pageUrl);
      await browser.waitForState(["ready"]);
      result.ready.push(await browser.evaluate("korvatine.timings.ready"));
      await browser.press("Enter", "Enter", 13); // at once, while the start screen measures
      await browser.waitForState(["playing"]);
      await sleep(3); // past the title card
      result.firstFrame.push(await browser.evaluate("korvatine.timings.firstFrame"));
      // A seek (→) to its first frame on screen, and a pause (Space) to its held frame, then on.
      for (const [what, key, code, keyCode] of [["seek", "ArrowRight", "ArrowRight", 39], ["pause", " ", "Space", 32]]) {
        await browser.press(key, code, keyCode);
        await sleep(1);
        result[what].push((await browser.evaluate(`korvatine.timings.${what}`)).ms);
      }
      await browser.press(" ", "Space", 32);
      // Frames as the show draws them, 30 in a row.
      result.frameTimes.push(await browser.evaluate(`new Promise((resolve) => {
        let frames = 0; const started = performance.now();
        const count = () =>
          ++frames < 30 ? requestAnimationFrame(count) : resolve((performance.now() - started) / frames);
        requestAnimationFrame(count); })`));
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
console.log("== opening the page to its start screen, Enter (at once) to the first frame, and a seek and a pause to " +
  "their frames on screen, ms (a new browser each run)");
for (const [name, result] of Object.entries(results))
  console.log(`${name}: to the start screen ${spread(result.ready)}; Enter to the first frame ${spread(result.firstFrame)}; ` +
    `a seek to its first frame ${spread(result.seek)}; a pause to its held frame ${spread(result.pause)}`);
const frameTimes = results.llvmpipe.frameTimes;

console.log("== each edition's frame time as the start screen measures it (the slower of m = 5 and 67.5), ms");
for (const [name, result] of Object.entries(results)) {
  console.log(`${name}: small ${spread(result.small)}; full ${spread(result.full)}`);
  console.log(`${name}: the measurement took ${spread(result.measuring)}; the page's longest time without ` +
    `answering during it ${spread(result.stall)}`);
}

console.log("== frame time of the small edition, ms");
console.log(`in the page, playing from about m = 1 on: ${spread(frameTimes)}`);
const labelPage = join(build, "web", "bench-page.png");
execFileSync(join(build, "tools", "korvatine_capture"), ["page", "--out", labelPage]);
const nativeFrames = execFileSync(join(build, "bench", "korvatine_frame_bench"),
  ["--build", "small", "--times", "5,67.5", "--frames", "10", "--page", labelPage], { encoding: "utf8" });
console.log(`natively (korvatine_frame_bench, the same rasteriser without the browser):\n${nativeFrames.trim()}`);
const nativeFull = execFileSync(join(build, "bench", "korvatine_frame_bench"),
  ["--build", "full", "--times", "5,67.5", "--frames", "2", "--page", labelPage], { encoding: "utf8" });
console.log(nativeFull.trim().split("\n").filter((line) => line.startsWith("full")).join("\n"));
