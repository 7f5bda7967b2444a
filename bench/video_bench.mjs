// The page's video beside the capture tool's, on this machine: frames a second
// of each for the same span of each edition (the page's from its first frame
// drawn to the file complete, the capture tool's as it reports), and the page's
// file: its size, bit rate and the whole show's size at that rate. Prints the
// machine first.
//
//   node bench/video_bench.mjs BUILD_DIR
import { execFileSync, spawnSync } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { cpus, loadavg, release, tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { pathToFileURL } from "node:url";

import { Chromium } from "../web/tests/chromium.mjs";

const build = resolve(process.argv[2] ?? "build");
const pageUrl = pathToFileURL(join(build, "web", "korvatine.html")).href;
const capture = join(build, "tools", "korvatine_capture");
const scratch = mkdtempSync(join(tmpdir(), "korvatine-video-bench-"));
const SHOW_SECONDS = 76.8;
// Show time 20 to 22 s (m = 18 to 20: the opening, the floor's grid in view).
const spans = [
  { edition: "small", from: 20, to: 22 },
  { edition: "full", from: 22, to: 22.25 },
];

const browser = await Chromium.launch();
try {
  await browser.open("about:blank");
  const renderer = await browser.evaluate(`(() => { const gl = document.createElement("canvas").getContext("webgl2");
    return gl ? gl.getParameter(gl.getExtension("WEBGL_debug_renderer_info").UNMASKED_RENDERER_WEBGL) : "no WebGL2"; })()`);
  const chromium = execFileSync("chromium", ["--version"], { encoding: "utf8", stdio: ["ignore", "pipe", "ignore"] });
  console.log("== machine");
  console.log(`${cpus()[0].model}, ${cpus().length} cores, Linux ${release()}, load ${loadavg().map((l) => l.toFixed(1)).join(" ")}; ` +
    `${chromium.trim()}; WebGL: ${renderer}`);
  console.log("== the page's video beside korvatine_capture video, the same span on the same machine");
  for (const { edition, from, to } of spans) {
    await browser.open(`${pageUrl}#video${edition === "small" ? "&small" : ""}&from=${from}&to=${to}`);
    const state = await browser.waitForState(["video-done", "failed"], 600);
    if (state !== "video-done") throw new Error(await browser.evaluate("document.getElementById('line').textContent"));
    const { frames, seconds, bands } = await browser.evaluate("korvatine.timings.video");
    const bytes = await browser.evaluate("korvatine.videoFile.size");
    const pageFps = frames / seconds;

    const out = join(scratch, `${edition}.mp4`);
    const native = spawnSync(capture, ["video", "--build", edition, "--from", String(from), "--to", String(to), "--out", out],
      { encoding: "utf8" });
    const nativeFps = Number([...native.stderr.matchAll(/([0-9.]+) fps/g)].pop()[1]);
    const nativeBytes = Number(execFileSync("stat", ["-c", "%s", out], { encoding: "utf8" }));
    const span = to - from;
    const mbits = (b) => ((8 * b) / span / 1e6).toFixed(2);
    console.log(`${edition}: ${frames} frames (show time ${from} to ${to} s), the page in ${bands} bands ` +
      `${pageFps.toFixed(2)} frames a second, korvatine_capture ${nativeFps.toFixed(2)}: ${(pageFps / nativeFps).toFixed(2)} of its rate`);
    console.log(`  the page's file ${bytes} bytes, ${mbits(bytes)} Mbit/s, the whole show at that rate ` +
      `${((bytes * SHOW_SECONDS) / span / 1e6).toFixed(0)} MB; korvatine_capture's (x264, rate factor 16, AAC) ` +
      `${nativeBytes} bytes, ${mbits(nativeBytes)} Mbit/s`);
  }
} finally {
  await browser.close();
  rmSync(scratch, { recursive: true, force: true });
}
