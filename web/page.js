// The page itself: its state (data-state on the root element: loading, ready,
// playing, still, checked, video, video-done, failed), its one line of what
// the show has to say, and the timings the tests and the benchmark read.

export const root = document.documentElement;
const line = document.getElementById("line");

// How long the steps took, in milliseconds (ready: since the page was opened).
export const timings = {};

export const state = () => root.dataset.state;
export const setState = (value) => (root.dataset.state = value);

export function say(text) {
  line.textContent = text;
}

// A line with a button after it that does something about it.
export function sayWithButton(text, label, action) {
  const button = document.createElement("button");
  button.textContent = label;
  button.addEventListener("click", (event) => {
    event.stopPropagation();
    action();
  });
  line.replaceChildren(`${text} `, button);
}

// What keeps the show from playing, said in one line; nothing is thrown.
export function fail(text) {
  root.classList.remove("still");
  say(text);
  setState("failed");
}

// A device without a keyboard or mouse (a phone, a tablet): the page names taps
// and buttons there, never keys.
const touchQuery = matchMedia("(hover: none)");
export const touchOnly = () => touchQuery.matches;

export const nextFrame = () => new Promise((resolve) => requestAnimationFrame(resolve));
export const nextTask = () => new Promise((resolve) => setTimeout(resolve, 0));
export const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
