// The show's editions: one a build of builds.txt (its name, its size, its
// rays a pixel and whether it plays full screen), and the sized edition, drawn
// at the size that keeps it smooth on this machine (sizes.js); and the
// shader's text for any size.
import { BUILT } from "./built.js";

export const EDITIONS = BUILT.editions;

// The sized edition: no size of its own but the step it is at; shown fitted
// in the window (or the screen), as the windowed build is.
export const SIZED = { name: "auto", sized: true, fullscreen: false };

// What the start screen offers and the edition control goes round: the sized
// edition first, then the builds.
export const OFFERED = [SIZED, ...EDITIONS];

export const editionNamed = (name) => OFFERED.find((edition) => edition.name === name);

// The build that plays in the window; the one that plays full screen.
export const WINDOWED = EDITIONS.find((edition) => !edition.fullscreen) ?? EDITIONS[0];
export const FULLSCREEN = EDITIONS.find((edition) => edition.fullscreen) ?? EDITIONS.at(-1);

// The edition after this one, round what is offered: what the edition control switches to.
export const nextEdition = (edition) => OFFERED[(OFFERED.indexOf(edition) + 1) % OFFERED.length];

const COUNTS = ["no", "one", "two", "three", "four", "five", "six", "seven", "eight"];

// "640 × 360, one ray a pixel"
export const sizeWords = ({ width, height, rays }) =>
  `${width} × ${height}, ${COUNTS[rays] ?? rays} ${rays === 1 ? "ray" : "rays"} a pixel`;

// "640 × 360, one ray a pixel, in the window"
export const describe = (edition) => `${sizeWords(edition)}, ${edition.fullscreen ? "full screen" : "in the window"}`;

// The shader's text for a size: the constants written in after its first
// line, in the build's form ({half_width}, {half_height}, {width}, {rays}).
export function shaderText({ width, height, rays }) {
  const { head, constants, body } = BUILT.shader;
  const fields = { half_width: Math.floor(width / 2), half_height: Math.floor(height / 2), width, rays };
  return `${head}\n${constants.replace(/\{(\w+)\}/g, (_, field) => fields[field])}${body}`;
}

