// Debian's Chromium, headless, driven over its DevTools pipe with no npm
// package: open a page, read it, press keys, take screenshots, and collect
// what it logged as errors.
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

// WebGL through ANGLE on the system's OpenGL ES (Mesa's llvmpipe here, as the
// capture tool draws), or on Chromium's own software renderer, SwiftShader
// (what Chrome draws with where it has no usable GPU).
export const SYSTEM_WEBGL = ["--use-gl=angle", "--use-angle=gl-egl", "--ignore-gpu-blocklist"];
export const SWIFTSHADER_WEBGL = ["--use-angle=swiftshader", "--enable-unsafe-swiftshader"];

// The page's long tasks (50 ms and more) from its start, as the browser
// reports them: a script to run first in the page's document.
export const WATCH_LONG_TASKS = `window.longTasks = []; new PerformanceObserver((list) => longTasks.push(...list
  .getEntries().map((task) => [task.startTime, task.startTime + task.duration]))).observe({ type: "longtask" });`;

// The longest time, in ms, that a page watched so held its main thread while its
// start screen showed: from the first paint to ready.
export const longestHoldToReady = (page) => page.evaluate(`(() => {
  const [paint] = performance.getEntriesByName("first-paint"), ready = korvatine.timings.ready;
  return Math.max(0, ...longTasks.map(([start, end]) => Math.min(end, ready) - Math.max(start, paint.startTime))); })()`);

// Headless Chromium has no pointer at all, and so matches (hover: none) as a
// touch screen does: the tests' browser has a desktop's mouse, as a viewer's
// has, unless a test turns on touch emulation.
const DESKTOP_POINTER = "--blink-settings=primaryHoverType=2,availableHoverTypes=2,primaryPointerType=4,availablePointerTypes=4";

export class Chromium {
  // extraFlags: more command-line flags (--disable-webgl, say); env: more
  // environment (XDG_RUNTIME_DIR of a sound server, say); webgl: the renderer's flags.
  static async launch(extraFlags = [], env = {}, webgl = SYSTEM_WEBGL) {
    // A home of its own, or its sound client leaves files behind.
    const home = mkdtempSync(join(tmpdir(), "korvatine-chromium-"));
    const flags = [
      "--headless=new", "--no-sandbox", ...webgl, "--remote-debugging-pipe", `--user-data-dir=${home}/profile`,
      "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--autoplay-policy=no-user-gesture-required", "--window-size=1280,800", "--hide-scrollbars", DESKTOP_POINTER,
      ...extraFlags,
      "about:blank",
    ];
    const child = spawn("chromium", flags, {
      stdio: ["ignore", "ignore", "pipe", "pipe", "pipe"],
      env: { ...process.env, HOME: home, XDG_RUNTIME_DIR: home, ...env },
    });
    const browser = new Chromium(child, home);
    const { targetInfos } = await browser.send("Target.getTargets");
    const page = targetInfos.find((target) => target.type === "page");
    const attached = await browser.send("Target.attachToTarget", { targetId: page.targetId, flatten: true });
    browser.session = attached.sessionId;
    for (const domain of ["Page", "Runtime", "Log"]) await browser.send(`${domain}.enable`);
    return browser;
  }

  constructor(child, home) {
    this.child = child;
    this.home = home;
    this.nextId = 1;
    this.pending = new Map();
    this.errors = []; // what the page logged as errors, or threw
    this.log = "";
    child.stdio[2].on("data", (data) => (this.log += data));
    let buffered = "";
    child.stdio[4].on("data", (data) => {
      buffered += data;
      for (let end; (end = buffered.indexOf("\0")) >= 0; buffered = buffered.slice(end + 1))
        this.receive(JSON.parse(buffered.slice(0, end)));
    });
    child.on("exit", () => {
      for (const { reject } of this.pending.values()) reject(new Error(`chromium ended:\n${this.log.slice(-2000)}`));
    });
  }

  receive(message) {
    if (message.id) {
      const { resolve, reject } = this.pending.get(message.id);
      this.pending.delete(message.id);
      if (message.error) reject(new Error(`${message.error.message} (${message.error.data ?? ""})`));
      else resolve(message.result);
      return;
    }
    const { method, params } = message;
    if (method === "Page.loadEventFired") this.loaded?.();
    if (method === "Runtime.exceptionThrown")
      this.errors.push(params.exceptionDetails.exception?.description ?? "exception");
    if (method === "Runtime.consoleAPICalled" && params.type === "error")
      this.errors.push(params.args.map((arg) => arg.value ?? arg.description).join(" "));
    if (method === "Log.entryAdded" && params.entry.level === "error") this.errors.push(params.entry.text);
  }

  // A command's result; no answer in a minute is a failure.
  send(method, params = {}) {
    const id = this.nextId++;
    const session = this.session && !method.startsWith("Target.") ? { sessionId: this.session } : {};
    this.child.stdio[3].write(JSON.stringify({ id, method, params, ...session }) + "\0");
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject });
      setTimeout(() => this.pending.delete(id) && reject(new Error(`${method}: no answer in 60 s`)), 60000).unref();
    });
  }

  // Opens url as a new document (by way of an empty one, so that a URL that
  // differs only in its fragment loads anew) and waits for its load event.
  async open(url) {
    for (const next of ["about:blank", url]) {
      const loaded = new Promise((resolve) => (this.loaded = resolve));
      await this.send("Page.navigate", { url: next });
      await loaded;
    }
  }

  // The value of an expression in the page (promises awaited).
  async evaluate(expression) {
    const { result, exceptionDetails } = await this.send("Runtime.evaluate", {
      expression, returnByValue: true, awaitPromise: true,
    });
    if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.exception?.description}`);
    return result.value;
  }

  // Waits until the root element's data-state is one of states; returns it.
  async waitForState(states, seconds = 60) {
    const deadline = Date.now() + seconds * 1000;
    for (;;) {
      const state = await this.evaluate("document.documentElement?.dataset.state");
      if (states.includes(state)) return state;
      if (Date.now() > deadline) throw new Error(`data-state is still ${state}, not ${states.join(" or ")}`);
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
  }

  // The bytes of the Blob or typed array an expression in the page gives (through base64).
  async bytesOf(expression) {
    const base64 = await this.evaluate(`(async () => {
      const value = await (${expression});
      const bytes = value instanceof Blob ? new Uint8Array(await value.arrayBuffer())
        : new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
      let text = "";
      for (let i = 0; i < bytes.length; i += 32768) text += String.fromCharCode(...bytes.subarray(i, i + 32768));
      return btoa(text); })()`);
    return Buffer.from(base64, "base64");
  }

  async press(key, code = key, keyCode = 0) {
    for (const type of ["rawKeyDown", "keyUp"])
      await this.send("Input.dispatchKeyEvent", { type, key, code, windowsVirtualKeyCode: keyCode });
  }

  // work() with source run first in every document opened meanwhile.
  async withScriptOnNewDocument(source, work) {
    const { identifier } = await this.send("Page.addScriptToEvaluateOnNewDocument", { source });
    try {
      return await work();
    } finally {
      await this.send("Page.removeScriptToEvaluateOnNewDocument", { identifier });
    }
  }

  // The page's viewport set to width x height CSS pixels, as a window of that size.
  viewport(width, height) {
    return this.send("Emulation.setDeviceMetricsOverride", { width, height, deviceScaleFactor: 1, mobile: false });
  }

  // A PNG of the page's top-left width x height CSS pixels.
  async screenshot(width, height) {
    const clip = { x: 0, y: 0, width, height, scale: 1 };
    const { data } = await this.send("Page.captureScreenshot", { format: "png", clip });
    return Buffer.from(data, "base64");
  }

  // Closes the browser as a person would, so that it leaves nothing running
  // in its home, then removes the home.
  async close() {
    const exited = new Promise((resolve) => {
      if (this.child.exitCode !== null) resolve();
      else this.child.on("exit", resolve);
    });
    this.session = null;
    await Promise.race([this.send("Browser.close").catch(() => {}), exited]);
    const killer = setTimeout(() => this.child.kill("SIGKILL"), 10000);
    await exited;
    clearTimeout(killer);
    rmSync(this.home, { recursive: true, force: true, maxRetries: 10, retryDelay: 100 });
  }
}
