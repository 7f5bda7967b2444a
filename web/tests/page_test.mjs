// The browser edition in Debian's headless Chromium, against the native build:
// stills against the capture tool's frames, the check page's digest of the
// song's stream, a play driven by keys, and a browser without WebGL2.
//
//   node page_test.mjs build/web/korvatine.html build/tools/korvatine_capture
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { createHash } from "node:crypto";
import { createServer } from "node:http";
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { after, before, test } from "node:test";
import { pathToFileURL } from "node:url";

import { Chromium } from "./chromium.mjs";

const [pagePath, capture] = process.argv.slice(2).map((path) => resolve(path));
const pageUrl = pathToFileURL(pagePath).href;
// Screenshots, the capture tool's frames and their differences, to look at.
const pictures = join(dirname(pagePath), "test-pictures");
const scratch = mkdtempSync(join(tmpdir(), "korvatine-page-test-"));

// The native song as the capture tool synthesises it (once): 16-bit little-endian samples.
let song;
function nativeSong() {
  if (!song) {
    execFileSync(capture, ["song", "--out", join(scratch, "song.wav")]);
    const wav = readFileSync(join(scratch, "song.wav"));
    const data = wav.indexOf("data");
    song = wav.subarray(data + 8, data + 8 + wav.readUInt32LE(data + 4));
  }
  return song;
}

// RGB bytes of a PNG, transparent pixels on black as a window shows them.
function rgb(png) {
  return execFileSync("convert", [png, "-background", "black", "-alpha", "remove", "-depth", "8", "rgb:-"], {
    maxBuffer: 1 << 26,
  });
}

let browser;
before(async () => {
  assert.ok(existsSync(pagePath), `${pagePath} is missing: the build makes it where emscripten is installed`);
  mkdirSync(pictures, { recursive: true });
  browser = await Chromium.launch();
});
after(async () => {
  await browser?.close();
  rmSync(scratch, { recursive: true, force: true });
});

// The page draws through ANGLE on the same rasteriser as the capture tool, and
// here the frames come out equal. ANGLE rewrites the shader for the driver, so
// scattered rounding may differ elsewhere; a clock 20 ms off already moves 29 %
// of the pixels at m = 20 by more than 2/255.
test("stills of the small edition are the capture tool's frames", async () => {
  for (const m of [-1, 20, 50]) {
    await browser.open(`${pageUrl}#m=${m}`);
    assert.equal(await browser.waitForState(["still", "failed"]), "still");
    const shot = join(pictures, `page_${m}.png`);
    const native = join(pictures, `native_${m}.png`);
    writeFileSync(shot, await browser.screenshot(640, 360));
    execFileSync(capture, ["frame", "--build", "small", "--time", String(m), "--out", native]);
    execFileSync("convert", [shot, "(", native, "-background", "black", "-alpha", "remove", ")", "-compose",
      "difference", "-composite", "-auto-level", join(pictures, `difference_${m}.png`)]);
    const [page, expected] = [rgb(shot), rgb(native)];
    assert.equal(page.length, expected.length);
    let off = 0;
    for (let i = 0; i < page.length; i += 3) {
      const difference = Math.max(...[0, 1, 2].map((c) => Math.abs(page[i + c] - expected[i + c])));
      off += difference > 2;
    }
    assert.ok(off <= 0.005 * (page.length / 3), `at m = ${m}: ${off} pixels off by more than 2/255`);
  }
});

test("the check page shows the native song's digest as this browser's, from disk and from a web server", async () => {
  // The bytes the native callback hands the device: byte 1 of the song to its end.
  const digest = createHash("sha256").update(nativeSong().subarray(1)).digest("hex");
  // A static web server that has the page and nothing else.
  const server = createServer((request, response) => {
    const found = request.url.split("#")[0] === "/korvatine.html";
    response.writeHead(found ? 200 : 404, { "Content-Type": "text/html" });
    response.end(found ? readFileSync(pagePath) : "");
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  try {
    for (const url of [pageUrl, `http://127.0.0.1:${server.address().port}/korvatine.html`]) {
      browser.errors.length = 0;
      await browser.open(`${url}#check`);
      assert.equal(await browser.waitForState(["checked", "failed"]), "checked");
      const report = await browser.evaluate("document.getElementById('report').textContent");
      assert.match(report, new RegExp(`ok  The song's stream: SHA-256 ${digest}\\n.*\\(same\\)`));
      assert.doesNotMatch(report, /DIFFERS/);
      assert.deepEqual(browser.errors, [], url);
    }
  } finally {
    server.close();
  }
});

test("Enter plays with sound, Escape ends it, and Web Audio was given the native stream", async () => {
  // Big-endian pairs from byte 1, as v / 32768, to the last whole device buffer of 1024.
  const stream = nativeSong().subarray(1);
  const played = new Float32Array(Math.floor(stream.length / 2048) * 1024);
  for (let k = 0; k < played.length; k++) played[k] = stream.readInt16BE(2 * k) / 32768;
  const expected = createHash("sha256").update(new Uint8Array(played.buffer)).digest("hex");

  browser.errors.length = 0;
  await browser.open(pageUrl);
  assert.equal(await browser.waitForState(["ready", "failed"]), "ready");
  await browser.press("Enter", "Enter", 13);
  assert.equal(await browser.waitForState(["playing"], 5), "playing");
  await new Promise((resolve) => setTimeout(resolve, 4000));
  const sound = await browser.evaluate(`({
    state: korvatine.audioContext.state, time: korvatine.audioContext.currentTime,
    rate: korvatine.soundBuffer.sampleRate,
    digest: korvatine.sha256Hex(new Uint8Array(korvatine.soundBuffer.getChannelData(0).buffer)) })`);
  assert.equal(sound.state, "running");
  assert.ok(sound.time > 3, `the audio clock stands at ${sound.time} s`);
  assert.equal(sound.rate, 44100);
  assert.equal(sound.digest, expected);
  await browser.press("Escape", "Escape", 27);
  assert.equal(await browser.waitForState(["ready"], 5), "ready");
  assert.deepEqual(browser.errors, []);
});

test("without Web Audio the picture plays alone and says so in one line", async () => {
  const { identifier } = await browser.send("Page.addScriptToEvaluateOnNewDocument", {
    source: "delete window.AudioContext; delete window.AudioBuffer; delete window.AudioBufferSourceNode;",
  });
  try {
    await browser.open(pageUrl);
    assert.equal(await browser.waitForState(["ready", "failed"]), "ready");
    await browser.press("Enter", "Enter", 13);
    assert.equal(await browser.waitForState(["playing"], 5), "playing");
    const line = await browser.evaluate(`(() => { const line = document.getElementById("line");
      return { text: line.textContent, shown: line.getBoundingClientRect().height > 0 }; })()`);
    assert.deepEqual(line, { text: "No sound, picture only: this browser has no Web Audio.", shown: true });
    await browser.press("Escape", "Escape", 27);
    assert.equal(await browser.waitForState(["ready"], 5), "ready");
  } finally {
    await browser.send("Page.removeScriptToEvaluateOnNewDocument", { identifier });
  }
});

test("without WebGL2 the page says so in one line and throws nothing", async () => {
  const plain = await Chromium.launch(["--disable-webgl"]);
  try {
    await plain.open(pageUrl);
    assert.equal(await plain.waitForState(["failed", "ready"]), "failed");
    assert.match(await plain.evaluate("document.getElementById('line').textContent"), /^[^\n]*no WebGL2[^\n]*$/);
    assert.deepEqual(plain.errors, []);
  } finally {
    await plain.close();
  }
});
