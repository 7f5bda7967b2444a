// Pictures compared: the page's screenshots against the capture tool's frames.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";

// RGB bytes of a PNG, transparent pixels on black as a window shows them.
export function rgb(png) {
  return execFileSync("convert", [png, "-background", "black", "-alpha", "remove", "-depth", "8", "rgb:-"], {
    maxBuffer: 1 << 26,
  });
}

// How many pixels of two PNGs of one size differ by more than tolerance in a channel.
export function pixelsOff(a, b, tolerance) {
  const [first, second] = [rgb(a), rgb(b)];
  assert.equal(first.length, second.length);
  let off = 0;
  for (let i = 0; i < first.length; i += 3) {
    const difference = Math.max(...[0, 1, 2].map((c) => Math.abs(first[i + c] - second[i + c])));
    off += difference > tolerance;
  }
  return off;
}
