// What the build wrote into the page, as JSON in the script element "built":
// the song module and the label sheet's raster (each deflated, in base64), the
// label sheet's size, each edition's shader text, the editions (builds.txt),
// the designed song's digest, and whether the page has its video writer.
export const BUILT = JSON.parse(document.getElementById("built").textContent);

// Bytes of a deflated, base64 part, inflated by the browser's own decompression.
export async function inflate(base64) {
  const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
  const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate-raw"));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}
