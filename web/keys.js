// The page's keys, in one table that the key handler, the start screen and
// the help line all read: those of video sites while the show plays (Space
// and K pause, arrows and J/L seek, digits jump, M mutes), the show's own on
// the start screen. Plain data and functions: no page, no browser.
//
// keys: KeyboardEvent.key values (letters in lower case); where: "start" (the
// start screen), "show" (playing or paused) or "video" (the video being made,
// or made); action: what the page does; help: how the help line says it.
export const KEYS = [
  { keys: ["Enter", " "], where: "start", action: "play", help: "play" },
  { keys: ["s"], where: "start", action: "play-windowed", help: "play the windowed edition" },
  { keys: ["f"], where: "start", action: "play-fullscreen", help: "play full screen" },
  { keys: ["v"], where: "start", action: "video", help: "make the video" },
  { keys: [" ", "k"], where: "show", action: "pause", help: "pause and resume" },
  { keys: ["ArrowLeft", "ArrowRight"], where: "show", action: "seek", by: [-5, 5], help: "5 s back or on" },
  { keys: ["j", "l"], where: "show", action: "seek", by: [-10, 10], help: "10 s back or on" },
  { keys: ["0", "1", "2", "3", "4", "5", "6", "7", "8", "9"], where: "show", action: "seek", tenth: true,
    help: "to a tenth of the show" },
  { keys: ["Home"], where: "show", action: "seek", to: 0, help: "to the start" },
  { keys: ["m"], where: "show", action: "mute", help: "mute" },
  { keys: ["f"], where: "show", action: "full", help: "the full-screen edition and back" },
  { keys: ["Escape"], where: "show", action: "end", help: "end the show" },
  { keys: ["Escape"], where: "video", action: "leave-video", help: "stop it" },
];

// What a key does where the page is: { action, by, tenth, to }, or null. Keys
// held with Control, Alt or Meta are the browser's.
export function keyAction(event, where) {
  if (event.ctrlKey || event.altKey || event.metaKey) return null;
  const key = event.key.length === 1 ? event.key.toLowerCase() : event.key;
  for (const entry of KEYS) {
    const index = entry.where === where ? entry.keys.indexOf(key) : -1;
    if (index < 0) continue;
    const { action, by, to } = entry;
    if (by) return { action, by: by[index] };
    if (entry.tenth) return { action, tenth: Number(key) };
    return to === undefined ? { action } : { action, to };
  }
  return null;
}

const NAMES = { " ": "Space", ArrowLeft: "←", ArrowRight: "→" };

// A key as the page writes it: Space, ←, K.
export const keyName = (key) => NAMES[key] ?? (key.length === 1 ? key.toUpperCase() : key);

// An entry's keys as the page writes them; the digits as one range, 0–9.
const namesOf = (entry) => (entry.tenth ? [`${entry.keys[0]}–${entry.keys.at(-1)}`] : entry.keys.map(keyName));

// The keys of an action where the page is, as the page writes them: ["Space", "K"].
export const keysOf = (action, where) =>
  KEYS.filter((entry) => entry.action === action && entry.where === where).flatMap(namesOf);

// The help line: each key of a place and what it does ("Space or K: pause and resume; ← →: 5 s back or on; …").
export const helpLine = (where) =>
  KEYS.filter((entry) => entry.where === where)
    .map((entry) => `${namesOf(entry).join(entry.by ? " " : " or ")}: ${entry.help}`)
    .join("; ");

// Things in a sentence: "a, b or c".
export const spokenList = (items) => items.join(", ").replace(/, ([^,]*)$/, " or $1");

// Keys as the page shows them, and other ways after them: "<kbd>Enter</kbd>, <kbd>Space</kbd> or a click".
export const keysHtml = (names, ...others) => spokenList([...names.map((name) => `<kbd>${name}</kbd>`), ...others]);
