// The show's editions, one a build of builds.txt: its name, its size, its rays
// a pixel and whether it plays full screen; and its shader text.
import { BUILT } from "./built.js";

export const EDITIONS = BUILT.editions;

export const editionNamed = (name) => EDITIONS.find((edition) => edition.name === name);

// The edition that plays in the window, offered first; the one that plays full screen.
export const WINDOWED = EDITIONS.find((edition) => !edition.fullscreen) ?? EDITIONS[0];
export const FULLSCREEN = EDITIONS.find((edition) => edition.fullscreen) ?? EDITIONS.at(-1);

// The edition after this one, round the list: what F and the edition control switch to.
export const nextEdition = (edition) => EDITIONS[(EDITIONS.indexOf(edition) + 1) % EDITIONS.length];

const COUNTS = ["no", "one", "two", "three", "four", "five", "six", "seven", "eight"];

// "640 × 360, one ray a pixel, in the window"
export const describe = ({ width, height, rays, fullscreen }) =>
  `${width} × ${height}, ${COUNTS[rays] ?? rays} ${rays === 1 ? "ray" : "rays"} a pixel, ` +
  (fullscreen ? "full screen" : "in the window");

export const shaderText = (edition) => BUILT.shaders[edition.name];

// The work of a frame: pixels times rays.
export const raysOf = ({ width, height, rays }) => width * height * rays;
