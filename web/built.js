// What the build wrote into the page, as JSON in the script element "built":
// the song module and the label sheet's raster (each deflated, in base64), the
// label sheet's size, the shader for any size, the editions (builds.txt),
// the designed song's digest, and whether the page has its video writer.
export const BUILT = JSON.parse(document.getElementById("built").textContent);

// Bytes of a deflated, base64 part, inflated by the browser's own decompression.
// It runs in workers too, so it uses nothing but the browser's globals.
export async function inflate(base64) {
  const text = atob(base64);
  const bytes = new Uint8Array(text.length);
  // (Uint8Array.from with a function takes a hundred times as long.)
  for (let i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
  const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate-raw"));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}
