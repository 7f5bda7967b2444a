// The player's controls over the picture: play and pause, the timeline with
// the show's parts, the time, the edition, mute, a link to the moment, full
// screen and end. Moving the mouse, a tap or a key shows them; they hide after
// a few seconds of nothing, never while paused, pointed at or focused by the
// keyboard. A tap on the picture shows or hides them; a click pauses, as on
// video sites.
import { nextEdition, sizeWords } from "./editions.js";
import { keysOf } from "./keys.js";
import { root, say, touchOnly } from "./page.js";
import { endShow, seek, showing, switchEdition, toggleFullscreen, toggleMute, togglePause, whenShowChanges }
  from "./player.js";
import { SHOW_PARTS, clockText, momentLink, partAt } from "./timeline.js";

const HIDE_AFTER_MS = 3000;

const controls = document.getElementById("controls");
const stage = document.getElementById("stage");
const timeline = document.getElementById("timeline");
const button = (id) => document.getElementById(id);

// A control's name for assistive technology, with its keys as a tooltip where there is a keyboard.
function name(element, text, action) {
  element.setAttribute("aria-label", text);
  const keys = keysOf(action, "show");
  element.title = keys.length && !touchOnly() ? `${text} (${keys.join(" or ")})` : text;
}

let hideTimer = 0;
let pointedAt = false;
let dragging = false;

export function showControls() {
  root.classList.add("controls-shown");
  clearTimeout(hideTimer);
  hideTimer = setTimeout(hideControls, HIDE_AFTER_MS);
}

function hideControls() {
  const focused = controls.contains(document.activeElement) && document.activeElement.matches(":focus-visible");
  if (showing()?.paused || pointedAt || dragging || focused) return showControls();
  root.classList.remove("controls-shown");
}

// The timeline's parts: a segment a part, named.
function drawParts(duration) {
  const parts = document.getElementById("parts");
  parts.replaceChildren(...SHOW_PARTS.map((part, k) => {
    const segment = document.createElement("span");
    const end = SHOW_PARTS[k + 1]?.from ?? duration;
    segment.style.left = `${(100 * part.from) / duration}%`;
    segment.style.width = `${(100 * (end - part.from)) / duration}%`;
    segment.title = part.name;
    return segment;
  }));
}

const track = document.getElementById("track");
let shownSecond = -1;
function update(what) {
  const now = showing();
  if (!now) {
    root.classList.remove("controls-shown", "paused");
    return;
  }
  if (what === "start") drawParts(now.duration);
  root.classList.toggle("paused", now.paused);
  timeline.max = now.duration;
  if (!dragging) timeline.value = now.position;
  track.style.setProperty("--played", now.position / now.duration);
  const second = Math.floor(now.position);
  if (second !== shownSecond || what !== "frame") {
    shownSecond = second;
    const at = `${clockText(now.position)} / ${clockText(Math.round(now.duration))}`;
    const part = partAt(now.position).name;
    button("clock").textContent = at;
    button("part").textContent = part;
    timeline.setAttribute("aria-valuetext", `${at}, ${part}`);
  }
  if (what === "frame") return;
  name(button("play-pause"), now.paused ? "Play" : "Pause", "pause");
  name(button("mute"), now.muted ? "Unmute" : "Mute", "mute");
  root.classList.toggle("muted", now.muted);
  root.classList.toggle("fullscreen", Boolean(document.fullscreenElement));
  // Where the browser offers no full screen (an iPhone), the show fills the page instead.
  const fullscreen = button("fullscreen");
  fullscreen.setAttribute("aria-disabled", String(!document.fullscreenEnabled));
  name(fullscreen, !document.fullscreenEnabled ? "Full screen is not offered by this browser"
    : document.fullscreenElement ? "Leave full screen" : "Full screen", "");
  // The edition, and the size it is drawn at (the sized edition's step now).
  const { edition, size } = now;
  const next = nextEdition(edition);
  button("edition").hidden = Boolean(edition.video);
  if (size) {
    button("edition").textContent = `${edition.sized ? "auto " : ""}${size.height}p`;
    name(button("edition"), `The ${edition.name} edition, ${sizeWords(size)}` +
      (next === edition ? "" : `: switch to the ${next.name} edition`), "switch");
  }
  if (what === "start" || what === "pause") showControls();
}
whenShowChanges(update);
name(button("end"), "End the show", "end");
name(button("link"), "A link to this moment", "");

button("play-pause").addEventListener("click", togglePause);
button("mute").addEventListener("click", toggleMute);
button("fullscreen").addEventListener("click", toggleFullscreen);
button("edition").addEventListener("click", switchEdition);
button("end").addEventListener("click", endShow);
button("link").addEventListener("click", async () => {
  const link = momentLink(location.href, showing().position);
  try {
    await navigator.clipboard.writeText(link);
    say(`Copied a link to this moment: ${link}`);
  } catch {
    say(`A link to this moment: ${link}`); // no clipboard here: shown to copy
  }
});

timeline.addEventListener("input", () => seek({ to: Number(timeline.value) }));
timeline.addEventListener("pointerdown", () => (dragging = true));
addEventListener("pointerup", () => (dragging = false));
controls.addEventListener("pointerenter", () => (pointedAt = true));
controls.addEventListener("pointerleave", () => (pointedAt = false));

// Input anywhere shows the controls; on the picture a tap shows or hides
// them, and a mouse's click pauses or resumes.
let pointer = "mouse"; // what the last click on the picture was made with
stage.addEventListener("pointermove", (event) => event.pointerType === "mouse" && showControls());
stage.addEventListener("pointerdown", (event) => (pointer = event.pointerType));
stage.addEventListener("click", (event) => {
  const now = showing();
  if (!now || controls.contains(event.target)) return;
  if (pointer === "mouse") togglePause();
  if (pointer === "mouse" || now.paused || !root.classList.contains("controls-shown")) showControls();
  else root.classList.remove("controls-shown");
});
controls.addEventListener("focusin", showControls);
