// The start screen: an offer to play each edition (from the moment a link
// asks for, where it asks) once its picture is prepared, how each plays here
// once measured, the video, the help line; and its return when the show ends.
// Keys are named only where there is a keyboard (the style hides them on
// touch screens).
import { FULLSCREEN, OFFERED, SIZED, WINDOWED, describe, sizeWords } from "./editions.js";
import { helpLine, keysHtml, keysOf } from "./keys.js";
import { frameTimes, measureEditions, whenMeasured } from "./measure.js";
import { say, setState, state } from "./page.js";
import { picture, sizeKey, whenPicture } from "./picture.js";
import { canDraw, startShow, whenShowChanges } from "./player.js";
import { WATCHABLE_FPS, frameRate, howItPlays } from "./plays.js";
import { buildAround, noSizeIsSmooth, plan, planWords, steps } from "./sized.js";
import { clockText } from "./timeline.js";

const offers = document.getElementById("editions");
let note = ""; // what the start screen says of how this browser plays the show
let startAt = 0; // the moment the next play starts from: a link's, until the show has played

// Each offer's button, its keys and what it is.
const OFFER = new Map([
  [SIZED, { button: "Play", action: "play", others: ["a click"] }],
  [WINDOWED, { button: `Play ${WINDOWED.width} × ${WINDOWED.height}`, action: "play-windowed" }],
  [FULLSCREEN, { button: "Play full screen", action: "play-fullscreen" }],
]);

// What an edition is: the sized edition's range of sizes, a build's size.
function about(edition) {
  if (!edition.sized) return describe(edition);
  const ladder = steps();
  return `sized for this machine, from ${ladder[0].width} × ${ladder[0].height} up to ` +
    `${sizeWords(ladder.at(-1))}, in the window`;
}

// One offer an edition, the sized edition first: its button, its keys, what
// it is and how it plays here; an edition whose program did not build is not offered.
function drawOffers() {
  const from = startAt ? ` from ${clockText(startAt)}` : "";
  // The sized edition's text is the windowed build's at other sizes: where that does not build, neither does it.
  const failed = OFFERED.filter((edition) => sizeKey(edition.sized ? WINDOWED : edition) in picture.failures);
  const notOffered = document.createElement("p");
  notOffered.className = "plays";
  notOffered.textContent = failed.map((edition) => `The ${edition.name} edition is not offered: its shader did not ` +
    "build in this browser (the check page says why).").join(" ");
  offers.replaceChildren(...OFFERED.filter((edition) => !failed.includes(edition)).map((edition) => {
    const offer = document.createElement("p");
    const { button: label, action, others = [] } = OFFER.get(edition) ?? { button: `Play the ${edition.name} edition` };
    const keys = action ? keysOf(action, "start") : [];
    offer.innerHTML = `<button id="play-${edition.name}"></button> ` +
      (keys.length ? `<span class="keys">${keysHtml(keys, ...others)}:</span> ` : "") +
      `<span class="about"></span> <span class="plays" id="plays-${edition.name}"></span>`;
    const button = offer.querySelector("button");
    button.textContent = label + from;
    button.disabled = !canDraw(edition);
    offer.querySelector(".about").textContent = about(edition);
    button.addEventListener("click", (event) => {
      event.stopPropagation();
      play(edition, event.timeStamp);
    });
    return offer;
  }), ...(failed.length ? [notOffered] : []));
  sayHowItPlays();
}

// Plays an edition, or where none is named the first offered that can draw.
export function play(edition, requestedAt = performance.now()) {
  startShow(edition ?? OFFERED.find(canDraw), startAt, requestedAt);
}

// Beside each edition offered: how it plays here, that it is being measured,
// or that its picture is still being prepared. The sized edition's steps near
// where it will start are built meanwhile.
function sayHowItPlays() {
  for (const edition of OFFERED) {
    const plays = document.getElementById(`plays-${edition.name}`);
    if (!plays) continue;
    document.getElementById(`play-${edition.name}`).disabled = !canDraw(edition);
    if (edition.sized) {
      const planned = plan();
      buildAround(planned.steps, planned.at, false);
      plays.textContent = planned.ms === null ? "measuring how it plays here…"
        : noSizeIsSmooth(planned, WATCHABLE_FPS) ? `too slow to watch here even at ${planWords(planned)}`
          : planWords(planned);
      continue;
    }
    const ms = frameTimes[edition.name];
    plays.textContent = !canDraw(edition) ? "preparing the picture…"
      : ms === undefined ? "measuring how it plays here…" : `${howItPlays(ms)} (${frameRate(ms)})`;
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

// An edition built behind the start screen is offered and measured; after a
// lost context, each is offered again as it is built again.
whenPicture((what, size) => {
  if (state() !== "ready" || !["built", "lost", "restored"].includes(what)) return;
  if (what === "built" && !(sizeKey(size) in picture.failures)) sayHowItPlays();
  else drawOffers();
  if (what !== "lost") measureEditions();
});

// The show's end brings the start screen back, to play again from the start.
whenShowChanges((what) => {
  if (what !== "end") return;
  if (startAt) history.replaceState(null, "", location.href.split("#")[0]);
  offerShow(note);
});

document.getElementById("keys-help").textContent = `While it plays: ${helpLine("show")}.`;
// A click anywhere else on the start screen plays the first offer.
document.getElementById("screen").addEventListener("click", (event) => {
  if (state() === "ready" && !event.target.closest("a, button")) play(undefined, event.timeStamp);
});
