// The page's plain parts, without a browser: the key table, the timeline's
// arithmetic and words, how a frame time is said, and the sized edition's steps.
//
//   node --test web/tests/unit_test.mjs
import assert from "node:assert/strict";
import { test } from "node:test";

import { KEYS, helpLine, keyAction, keysOf } from "../keys.js";
import { frameRate, howItPlays } from "../plays.js";
import { FLOOR, TARGET_MS, afterFrame, firstStep, holding, ladder, work } from "../sizes.js";
import { SHOW_PARTS, clockText, linkedMoment, momentLink, partAt, seekTarget } from "../timeline.js";

const press = (key, more = {}) => ({ key, ctrlKey: false, altKey: false, metaKey: false, ...more });

test("each key does one thing in each place, and the video sites' keys do what they do there", () => {
  for (const where of new Set(KEYS.map((entry) => entry.where))) {
    const keys = KEYS.filter((entry) => entry.where === where).flatMap((entry) => entry.keys);
    assert.deepEqual(keys, [...new Set(keys)], `a key twice in ${where}`);
  }
  assert.deepEqual(keyAction(press(" "), "show"), { action: "pause" });
  assert.deepEqual(keyAction(press("K"), "show"), { action: "pause" }); // with Shift or Caps Lock
  assert.deepEqual(keyAction(press(" "), "start"), { action: "play" });
  assert.deepEqual(keyAction(press("ArrowLeft"), "show"), { action: "seek", by: -5 });
  assert.deepEqual(keyAction(press("l"), "show"), { action: "seek", by: 10 });
  assert.deepEqual(keyAction(press("7"), "show"), { action: "seek", tenth: 7 });
  assert.deepEqual(keyAction(press("0"), "show"), { action: "seek", tenth: 0 });
  assert.deepEqual(keyAction(press("Home"), "show"), { action: "seek", to: 0 });
  assert.equal(keyAction(press("l", { ctrlKey: true }), "show"), null); // the browser's address bar
  assert.equal(keyAction(press("7"), "start"), null);
  assert.deepEqual(keysOf("pause", "show"), ["Space", "K"]);
  assert.match(helpLine("show"), /^Space or K: pause and resume; ← →: 5 s back or on; .*0–9: to a tenth/);
});

test("the clock reads as players read it, and seeks stay within the show", () => {
  assert.deepEqual([0, 9.99, 59.999, 76.8, 3599, 3600, 3725].map(clockText),
    ["0:00", "0:09", "0:59", "1:16", "59:59", "1:00:00", "1:02:05"]);
  assert.equal(clockText(-0.5), "0:00");
  const duration = 76.8;
  assert.equal(seekTarget(3, duration, { by: -5 }), 0);
  assert.equal(seekTarget(74, duration, { by: 5 }), duration);
  assert.equal(seekTarget(10, duration, { by: 10 }), 20);
  assert.equal(seekTarget(60, duration, { tenth: 5 }), 38.4);
  assert.equal(seekTarget(60, duration, { tenth: 0 }), 0);
  assert.equal(seekTarget(60, duration, { to: 90 }), duration);
});

test("a link names a moment of show time, and a moment falls in one part", () => {
  assert.equal(linkedMoment("#t=30"), 30);
  assert.equal(linkedMoment("#t=43.08"), 43.08);
  assert.equal(linkedMoment("#t=.5"), 0.5);
  for (const hash of ["", "#t=", "#t=-3", "#t=1e3", "#t=30&x", "#m=30", "#t=abc"]) assert.equal(linkedMoment(hash), null, hash);
  assert.equal(momentLink("file:///a/korvatine.html#t=3", 41.256), "file:///a/korvatine.html#t=41.26");
  assert.equal(linkedMoment(new URL(momentLink("http://h/k.html", 12)).hash), 12);
  assert.equal(partAt(0).name, "title card");
  assert.equal(partAt(2.08).name, "opening");
  assert.equal(partAt(43.5).name, "colour reveal");
  assert.equal(partAt(76).name, "fade");
  assert.ok(SHOW_PARTS.every((part, k) => k === 0 || part.from > SHOW_PARTS[k - 1].from));
});

test("a frame time is said as smooth, playable or too slow, at 50 and 24 frames a second", () => {
  assert.deepEqual([10, 20, 20.5, 41, 41.7, 1500].map(howItPlays), ["smooth here", "smooth here",
    "plays here, not smoothly", "plays here, not smoothly", "too slow to watch here", "too slow to watch here"]);
  assert.deepEqual([5, 16.7, 75, 999, 1001].map(frameRate), ["60 frames a second", "about 59 frames a second",
    "about 13 frames a second", "about one frame a second", "under one frame a second"]);
});

const sizes = (steps) => steps.map(({ width, height, rays }) => `${width}x${height}x${rays}`);

test("the sized edition's steps run from the floor to the picture's size, then four rays there", () => {
  assert.deepEqual(sizes(ladder(1920, 1080)), ["320x180x1", "384x216x1", "480x270x1", "640x360x1", "768x432x1",
    "960x540x1", "1280x720x1", "1600x900x1", "1920x1080x1", "1920x1080x4"]);
  // A 1366 x 768 window: its own size is too near 1280 x 720 to be a step of its own.
  assert.deepEqual(sizes(ladder(1366, 768)).slice(-2), ["1280x720x1", "1280x720x4"]);
  // A tall phone: the picture is as wide as the screen, 1170 device pixels.
  assert.deepEqual(sizes(ladder(1170, 2532)).slice(-3), ["960x540x1", "1170x658x1", "1170x658x4"]);
  assert.deepEqual(sizes(ladder(300, 200)), ["320x180x1", "320x180x4"]);
  for (const steps of [ladder(1920, 1080), ladder(3840, 2160), ladder(1170, 2532)])
    for (let k = 1; k < steps.length; k++) {
      const ratio = work(steps[k]) / work(steps[k - 1]);
      assert.ok(ratio > 1.2 && ratio <= 4, `${sizes(steps)[k - 1]} to ${sizes(steps)[k]}: ${ratio}`);
    }
});

test("the sized edition starts at the largest step the measurement says is smooth, or the floor", () => {
  const steps = ladder(1920, 1080);
  const small = { width: 640, height: 360, rays: 1 };
  assert.equal(steps[firstStep(steps, { ...small, ms: 75 })], steps[0]);
  assert.equal(sizes([steps[firstStep(steps, { ...small, ms: 5 })]])[0], "960x540x1");
  assert.equal(sizes([steps[firstStep(steps, { ...small, ms: 0.3 })]])[0], "1920x1080x4");
  assert.equal(steps[firstStep(steps, { ...FLOOR, ms: TARGET_MS })], steps[0]);
});

test("the sized edition goes down at once, up only after holding, and holds longer after going back and forth", () => {
  // A GPU that takes perMegaRay ms for each million rays, the scene heavier or
  // lighter as it goes, on a 60 Hz screen; the GPU's times known, or not.
  const steps = ladder(1920, 1080);
  let now = 0;
  const play = (state, perMegaRay, seconds, canUse, gpuTimes = true) => {
    for (let end = now + seconds; now < end;) {
      const gpu = (perMegaRay * work(state.steps[state.at])) / 1e6;
      const interval = Math.ceil(gpu / (1000 / 60)) * (1000 / 60);
      now += interval / 1000;
      afterFrame(state, { interval, gpu: gpuTimes ? gpu : null }, now, canUse);
    }
    return sizes([state.steps[state.at]])[0];
  };
  const state = holding(steps, 6, now); // 1280 x 720
  assert.equal(play(state, 14, 3), "1280x720x1"); // 13 ms; 1600 x 900 would take 20
  assert.equal(play(state, 40, 0.3), "768x432x1"); // 37 ms: down at once, to the step that takes at most 18
  assert.equal(play(state, 20, 1.5), "768x432x1"); // room to grow, but not held for 2 s yet
  assert.equal(play(state, 20, 1), "960x540x1"); // 10 ms there; 1280 x 720 would take 18.4
  assert.equal(play(state, 20, 3), "960x540x1");
  // Changes the scene makes, seconds apart, keep the hold at 2 s.
  assert.equal(play(state, 50, 0.3), "768x432x1");
  assert.equal(play(state, 20, 1.5), "768x432x1");
  assert.equal(play(state, 20, 1), "960x540x1");
  // Without the GPU's times, frames that keep up with the screen try a step up
  // (14 ms at 640 x 360 here, 20 at 768 x 432), and where it does not keep up,
  // come straight back and hold twice as long: tries 2, 4, 8 and 16 s apart.
  const probing = holding(steps, 3, now);
  const tries = [];
  for (let t = 0; t < 40; t += 0.1) {
    const before = probing.at;
    if (play(probing, 60, 0.1, undefined, false) === "768x432x1" && before === 3) tries.push(now);
    assert.ok(probing.at === 3 || probing.at === 4);
  }
  assert.deepEqual(tries.map((at, k) => Math.round(at - (tries[k - 1] ?? tries[0] - 2))), [2, 4, 8, 16]);
  // A step whose program is not built yet is not taken: up, it waits; down, it takes the largest built
  // step that would do, or where none would, the smallest built.
  const waiting = holding(steps, 3, now);
  assert.equal(play(waiting, 5, 3, (index) => index !== 4), "640x360x1");
  assert.equal(play(waiting, 400, 0.3, (index) => index === 2 || index === 3), "480x270x1");
});
