// A still: one moment drawn alone, without sound or start screen, the canvas
// at its own size at the top left (#m=T, #m=T&EDITION, &bands=N).
import { bandsFor } from "./measure.js";
import { nextFrame, root, say, setState } from "./page.js";
import { draw, openPicture, setCanvasSize } from "./picture.js";

// Drawn in bands of rows as a frame of unknown cost is (bands=1: in one draw).
export async function drawStill(m, edition, bands = bandsFor(edition)) {
  root.classList.add("still");
  say("");
  const opened = await openPicture([edition], { preserveDrawingBuffer: true });
  if (!opened) return;
  setCanvasSize(opened.gl, edition);
  draw(opened.gl, opened.programs[edition.name], m, bands);
  await nextFrame();
  await nextFrame(); // drawn and shown
  setState("still");
}
