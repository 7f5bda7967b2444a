// A still: one moment drawn alone, without sound or start screen, the canvas
// at its own size at the top left; drawn again after a lost context comes back.
import { EDITIONS, WINDOWED } from "./editions.js";
import { bandsFor } from "./measure.js";
import { fail, nextFrame, root, say, setState } from "./page.js";
import { draw, openPicture, picture, programOf, setCanvasSize, sizeKey, whenPicture } from "./picture.js";

// #m=T (the windowed build's), #m=T&EDITION (a build's), #m=T&size=WxH&rays=N
// (any size, one ray where none is said), each with &bands=N (in N draws).
export function stillByLink(hash) {
  const [, m, rest = ""] = /^#m=(-?[0-9.]+)(&.*)?$/.exec(hash) ?? [];
  const options = new URLSearchParams(rest.slice(1));
  const builds = EDITIONS.filter((edition) => options.has(edition.name));
  const size = /^([0-9]+)x([0-9]+)$/.exec(options.get("size") ?? "");
  const rays = Number(options.get("rays") ?? 1);
  const bands = options.has("bands") ? Number(options.get("bands")) : undefined;
  const known = new Set(["size", "rays", "bands", ...builds.map((edition) => edition.name)]);
  const problem = [
    [m === undefined || Number.isNaN(Number(m)), "the moment is not a number"],
    [[...options.keys()].some((key) => !known.has(key)), "it asks for what a still does not have"],
    [builds.length > 1 || (builds.length && options.has("size")), "it asks for more than one size"],
    [options.has("size") && (!size || [size[1], size[2]].some((side) => side < 2 || side > 8192)),
      "the size is not WIDTHxHEIGHT, each from 2 to 8192"],
    [!(Number.isInteger(rays) && rays >= 1 && rays <= 16), "rays takes a whole number from 1 to 16"],
    [bands !== undefined && !(Number.isInteger(bands) && bands >= 1), "bands takes a whole number from 1"],
  ].find(([failed]) => failed)?.[1];
  if (problem) return fail(`No still drawn: ${problem} (#m=T, with &EDITION or &size=WxH&rays=N, and &bands=N).`);
  const sized = size && { name: "sized", width: Number(size[1]), height: Number(size[2]), rays };
  return drawStill(Number(m), sized || builds[0] || WINDOWED, bands);
}

// Drawn in bands of rows as a frame of unknown cost is (bands=1: in one draw).
async function drawStill(m, edition, bands = bandsFor(edition)) {
  root.classList.add("still");
  say("");
  const opened = openPicture([edition], { preserveDrawingBuffer: true });
  if (!opened) return;
  if (!(await opened.ready(edition)))
    return fail(`The shader did not compile in this browser:\n${opened.failures[sizeKey(edition)]}`);
  if (!programOf(edition)) return; // no label sheet, which is said
  const drawn = () => {
    setCanvasSize(picture.gl, edition);
    draw(picture.gl, programOf(edition), m, bands);
  };
  drawn();
  whenPicture((what) => what === "restored" && drawn());
  await nextFrame();
  await nextFrame(); // drawn and shown
  setState("still");
}
