// The show's timeline, as a player shows it. Show time is seconds since the
// first frame, from 0 to the song's end (76.8 s); the shader's m is show time
// less the title card's 2.080 s. Plain functions: no page, no browser.

// Where the show's parts begin, in show time, as the shader cuts them (bars of
// 1.0448 s from m = 0): the title card, the opening's cuts every bar (8 bars),
// the long circle, the colour reveal (m = 41), the busy section (bar 40), the
// last cuts (bar 60) and the fade to black (m = 71).
export const SHOW_PARTS = [
  { name: "title card", from: 0 },
  { name: "opening", from: 2.08 },
  { name: "the circle", from: 2.08 + 8 * 1.0448 },
  { name: "colour reveal", from: 2.08 + 41 },
  { name: "busy section", from: 2.08 + 40 * 1.0448 },
  { name: "last cuts", from: 2.08 + 60 * 1.0448 },
  { name: "fade", from: 2.08 + 71 },
].sort((a, b) => a.from - b.from);

// Seconds as a player shows them: m:ss, or h:mm:ss from an hour, rounded down.
export function clockText(seconds) {
  const whole = Math.max(Math.floor(seconds + 1e-9), 0);
  const [h, m, s] = [Math.floor(whole / 3600), Math.floor(whole / 60) % 60, whole % 60];
  return `${h ? `${h}:${String(m).padStart(2, "0")}` : m}:${String(s).padStart(2, "0")}`;
}

// Where a seek lands, kept within the show: by seconds from position, to a
// tenth of the show (0 to 9), or to a moment.
export function seekTarget(position, duration, { by, tenth, to }) {
  const target = by !== undefined ? position + by : tenth !== undefined ? (tenth * duration) / 10 : to;
  return Math.min(Math.max(target, 0), duration);
}

// The moment a link asks to play from: #t=S (seconds of show time, decimals
// allowed), or null where the fragment asks for none.
export function linkedMoment(hash) {
  const match = /^#t=([0-9]+(?:\.[0-9]*)?|\.[0-9]+)$/.exec(hash);
  return match ? Number(match[1]) : null;
}

// A link to the page that plays from a moment, to the hundredth of a second.
export function momentLink(href, seconds) {
  return `${href.split("#")[0]}#t=${Number(Math.max(seconds, 0).toFixed(2))}`;
}

// The part of the show a moment falls in.
export function partAt(seconds) {
  return SHOW_PARTS.findLast((part) => part.from <= seconds) ?? SHOW_PARTS[0];
}
