// SHA-256 of a byte array, in hex. The check page digests the song's stream
// with it: the browser's own digest is offered only to secure contexts, which a
// page served over plain http is not.
const SHA256_ROUND_CONSTANTS = (() => {
  // The first 32 bits of the fractions of the cube roots of the first 64 primes.
  const primes = [];
  for (let n = 2; primes.length < 64; n++) if (primes.every((p) => n % p)) primes.push(n);
  return Uint32Array.from(primes, (p) => (Math.cbrt(p) % 1) * 2 ** 32);
})();

export function sha256Hex(bytes) {
  const rotate = (x, n) => (x >>> n) | (x << (32 - n));
  const hash = Uint32Array.of(
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19);
  // The message, a 1 bit, zeros, and its length in bits, to a whole number of 64-byte blocks.
  const padded = new Uint8Array(Math.ceil((bytes.length + 9) / 64) * 64);
  padded.set(bytes);
  padded[bytes.length] = 0x80;
  const view = new DataView(padded.buffer);
  view.setUint32(padded.length - 8, Math.floor(bytes.length / 2 ** 29));
  view.setUint32(padded.length - 4, (bytes.length * 8) >>> 0);
  const w = new Uint32Array(64);
  for (let block = 0; block < padded.length; block += 64) {
    for (let i = 0; i < 16; i++) w[i] = view.getUint32(block + 4 * i);
    for (let i = 16; i < 64; i++) {
      const s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >>> 3);
      const s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >>> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    let [a, b, c, d, e, f, g, h] = hash;
    for (let i = 0; i < 64; i++) {
      const t1 = h + (rotate(e, 6) ^ rotate(e, 11) ^ rotate(e, 25)) + ((e & f) ^ (~e & g)) +
        SHA256_ROUND_CONSTANTS[i] + w[i];
      const t2 = (rotate(a, 2) ^ rotate(a, 13) ^ rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = (d + t1) | 0;
      d = c;
      c = b;
      b = a;
      a = (t1 + t2) | 0;
    }
    hash.set([a, b, c, d, e, f, g, h].map((x, i) => hash[i] + x));
  }
  return Array.from(hash, (x) => x.toString(16).padStart(8, "0")).join("");
}
