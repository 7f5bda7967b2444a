// The start screen: an offer to play each edition (from the moment a link
// asks for, where it asks), how each plays here once measured, the video, the
// help line; and its return when the show ends. Keys are named only where
// there is a keyboard (the style hides them on touch screens).
import { EDITIONS, FULLSCREEN, WINDOWED, describe } from "./editions.js";
import { helpLine, keysHtml, keysOf } from "./keys.js";
import { frameTimes, measureEditions, whenMeasured } from "./measure.js";
import { say, setState, state } from "./page.js";
import { startShow, whenShowChanges } from "./player.js";
import { frameRate, howItPlays } from "./plays.js";
import { clockText } from "./timeline.js";

const offers = document.getElementById("editions");
let note = ""; // what the start screen says of how this browser plays the show
let startAt = 0; // the moment the next play starts from: a link's, until the show has played

// One offer an edition: its button, its keys, what it is and how it plays here.
function drawOffers() {
  const from = startAt ? ` from ${clockText(startAt)}` : "";
  offers.replaceChildren(...EDITIONS.map((edition) => {
    const offer = document.createElement("p");
    const action = edition === WINDOWED ? "play" : edition === FULLSCREEN ? "play-fullscreen" : null;
    const keys = action ? keysOf(action, "start") : [];
    offer.innerHTML = `<button id="play-${edition.name}"></button> ` +
      (keys.length ? `<span class="keys">${keysHtml(keys, ...(edition === WINDOWED ? ["a click"] : []))}:</span> ` : "") +
      `<span class="about"></span> <span class="plays" id="plays-${edition.name}"></span>`;
    offer.querySelector("button").textContent = (edition.fullscreen ? "Play full screen" : "Play") + from;
    offer.querySelector(".about").textContent = describe(edition);
    offer.querySelector("button").addEventListener("click", (event) => {
      event.stopPropagation();
      play(edition, event.timeStamp);
    });
    return offer;
  }));
  sayHowItPlays();
}

export function play(edition = WINDOWED, requestedAt = performance.now()) {
  startShow(edition, startAt, requestedAt);
}

// Beside each edition offered: how it plays here, or that it is being measured.
function sayHowItPlays() {
  for (const edition of EDITIONS) {
    const ms = frameTimes[edition.name];
    const plays = document.getElementById(`plays-${edition.name}`);
    if (plays) plays.textContent = ms === undefined ? "measuring how it plays here…" : `${howItPlays(ms)} (${frameRate(ms)})`;
  }
}
whenMeasured(sayHowItPlays);

// The start screen ready to play, from a moment a link asked for (seconds of show time).
export function offerShow(startNote, from = 0) {
  note = startNote;
  startAt = from;
  say(note);
  drawOffers();
  setState("ready");
  measureEditions();
}

export const startScreenNote = () => note;

// The show's end brings the start screen back, to play again from the start.
whenShowChanges((what) => {
  if (what !== "end") return;
  if (startAt) history.replaceState(null, "", location.href.split("#")[0]);
  offerShow(note);
});

document.getElementById("keys-help").textContent = `While it plays: ${helpLine("show")}.`;
// A click anywhere else on the start screen plays the windowed edition.
document.getElementById("screen").addEventListener("click", (event) => {
  if (state() === "ready" && !event.target.closest("a, button")) play(WINDOWED, event.timeStamp);
});
