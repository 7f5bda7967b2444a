// How an edition plays at a frame time, in a viewer's words. Plain functions:
// no page, no browser.

// 50 frames a second and more is smooth on a 60 Hz screen (only the odd frame
// late); under 24, film's rate, the camera's circling visibly stutters.
export const SMOOTH_FPS = 50;
export const WATCHABLE_FPS = 24;

export function howItPlays(ms) {
  const fps = 1000 / ms;
  return fps >= SMOOTH_FPS ? "smooth here" : fps >= WATCHABLE_FPS ? "plays here, not smoothly" : "too slow to watch here";
}

// Frames a second at a frame time, in words (a screen shows at most 60).
export function frameRate(ms) {
  const fps = 1000 / ms;
  if (fps >= 60) return "60 frames a second";
  if (fps < 2) return fps < 1 ? "under one frame a second" : "about one frame a second";
  return `about ${Math.floor(fps)} frames a second`;
}
