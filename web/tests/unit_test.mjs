// The page's plain parts, without a browser: the key table, the timeline's
// arithmetic and words, and how a frame time is said.
//
//   node --test web/tests/unit_test.mjs
import assert from "node:assert/strict";
import { test } from "node:test";

import { KEYS, helpLine, keyAction, keysOf } from "../keys.js";
import { frameRate, howItPlays } from "../plays.js";
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
