// The check page (#check): whether this browser plays the show as designed,
// finding by finding, then how each edition plays here.
import { BUILT } from "./built.js";
import { EDITIONS } from "./editions.js";
import { frameTimes, measureEditions } from "./measure.js";
import { nextFrame, root, say, setState, timings } from "./page.js";
import { openPicture, sizeKey } from "./picture.js";
import { SMOOTH_FPS, WATCHABLE_FPS, howItPlays } from "./plays.js";
import { noSizeIsSmooth, plan, planWords } from "./sized.js";
import { sha256Hex } from "./sha256.js";
import { makeSong } from "./sound.js";
import { videoCheckLine } from "./video.js";

export async function check() {
  root.classList.add("check");
  const findings = [];
  const lines = [];
  const note = (what, finding, asDesigned) => {
    findings.push(asDesigned);
    lines.push(`${asDesigned ? "ok" : "DIFFERS"}  ${what}: ${finding}`);
  };
  say("Checking this browser…");
  await nextFrame();
  const picture = openPicture(EDITIONS);
  note("WebGL2", picture ? "yes" : "no: the show cannot draw here", Boolean(picture));
  if (picture) {
    for (const edition of EDITIONS) {
      const built = await picture.ready(edition);
      note(`The ${edition.name} edition's shader`, built ? "compiled"
        : `did not compile: the ${edition.name} edition is not offered here\n${picture.failures[sizeKey(edition)]}`, built);
    }
    await picture.allBuilt;
    const { sheet } = picture;
    note("The label sheet's texture", sheet ? `${sheet.name}, ${sheet.mebibytes} MiB of graphics memory`
      : "could not be made", sheet?.name === "8-bit luminance" || sheet?.name === "RGBA32F");
  }
  try {
    const made = await makeSong();
    const digest = sha256Hex(made.stream);
    const same = digest === BUILT.streamDigest;
    const designed = `the designed song's: ${BUILT.streamDigest} (${same ? "same" : "different"})`;
    note("The song's stream", `SHA-256 ${digest}\n    ${designed}`, same);
    note("Song synthesis", `${Math.round(timings.synthesis)} ms`, true);
  } catch (error) {
    note("The song", `could not be made: ${error.message}`, false);
  }
  note("Web Audio", typeof AudioContext === "undefined" ? "no: the picture would play alone" : "yes",
    typeof AudioContext !== "undefined");
  lines.push(await videoCheckLine());
  const verdict = `This browser plays the show ${findings.every(Boolean) ? "as designed" : "otherwise"}.`;
  const report = document.getElementById("report");
  report.textContent = [verdict, "", ...lines, "", "Measuring how each edition plays here…"].join("\n");
  const rates = picture ? await measuredRates() : ["How it plays here: not known, the picture could not be opened."];
  report.textContent = [verdict, "", ...lines, "", ...rates].join("\n");
  say("");
  setState("checked");
}

// The check page's lines on how each edition plays here, and which plays smoothly.
async function measuredRates() {
  await measureEditions();
  const lines = [];
  for (const [edition, ms] of Object.entries(frameTimes)) {
    const fps = 1000 / ms;
    lines.push(`The ${edition} edition: ${ms.toFixed(ms < 10 ? 1 : 0)} ms a frame at its heaviest, ` +
      `${fps.toFixed(fps < 10 ? 1 : 0)} frames a second: ${howItPlays(ms)}`);
  }
  const planned = plan();
  if (planned.ms !== null)
    lines.push(noSizeIsSmooth(planned, WATCHABLE_FPS) ? `The auto edition: no size plays smoothly here, even ${planWords(planned)}`
      : `The auto edition: sized here to ${planWords(planned)} at its heaviest`);
  const smooth = Object.keys(frameTimes).filter((edition) => 1000 / frameTimes[edition] >= SMOOTH_FPS);
  lines.push(smooth.length ? `This browser plays the ${smooth.join(" and the ")} edition smoothly.`
    : "This browser plays neither edition smoothly.");
  return lines;
}
