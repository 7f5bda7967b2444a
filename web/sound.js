// The song, made in the page by the show's own code compiled to WebAssembly,
// and played by Web Audio from any moment: paused, sought, muted. Its position
// as heard is the show's clock, so the picture follows the sound and the two
// cannot drift; where the browser gives no sound, the page's timer stands in.
import { BUILT, inflate } from "./built.js";
import { timings } from "./page.js";
import { inWorker } from "./worker.js";

// The song once made.
export let song = null;

// The song module's work, in a worker (the synthesis takes the better part of
// a second, which the page would not answer in): the module inflated and
// instantiated, the song synthesised, and its stream as the native callback
// hands it over and the values Web Audio is given copied out.
async function synthesise(module64) {
  const { instance } = await WebAssembly.instantiate(await inflate(module64), {});
  const module = instance.exports;
  module._initialize();
  const started = performance.now();
  module.synthesise();
  const ms = performance.now() - started;
  const memory = module.memory.buffer;
  return {
    rate: module.playback_rate(),
    titleCardMs: module.title_card_ms(),
    stream: new Uint8Array(memory, module.stream(), module.stream_length()).slice(),
    played: new Float32Array(memory, module.played(), module.played_count()).slice(),
    ms,
  };
}

// The song made, as song. The title card's length and the show's in seconds.
export async function makeSong() {
  const made = await inWorker(synthesise, BUILT.module, [inflate]);
  timings.synthesis = made.ms;
  song = {
    rate: made.rate,
    titleCard: made.titleCardMs / 1000,
    duration: made.played.length / made.rate,
    stream: made.stream,
    played: made.played,
  };
  return song;
}

// The song as Web Audio plays it, or why it cannot: { buffer } or { problem }.
export function soundBufferOf(song) {
  try {
    const buffer = new AudioBuffer({ length: song.played.length, sampleRate: song.rate, numberOfChannels: 1 });
    buffer.copyToChannel(song.played, 0);
    return { buffer };
  } catch (error) {
    return { problem: typeof AudioBuffer === "undefined" ? "this browser has no Web Audio" : error.message };
  }
}

// One audio context for the page, made on the first play (browsers allow sound
// only after a gesture), and the gain that mutes it.
let context = null;
let volume = null;
export const audioContext = () => context;

// Seconds of the sound heard since the context's time startedAt: its time less
// the output latency the browser reports. The context's time moves in steps
// of its buffers, so between steps the page's timer carries it on, at most a
// tenth of a second (a sound that stalls holds the picture too).
function heardSince(startedAt) {
  let step = -1;
  let stepAt = 0;
  return () => {
    const now = performance.now();
    if (context.currentTime !== step) {
      step = context.currentTime;
      stepAt = now;
    }
    const latency = context.outputLatency ?? context.baseLatency ?? 0;
    return step - latency - startedAt + Math.min((now - stepAt) / 1000, 0.1);
  };
}

// The show's sound and clock. position() is the moment heard, in seconds of
// show time; it never goes back while playing, and holds while paused.
export class Playback {
  // sound: soundBufferOf's answer; onEnd: called when the sound has played to its end.
  constructor(sound, onEnd) {
    this.buffer = sound.buffer ?? null;
    this.alone = sound.problem ?? null; // why the picture plays alone, once it does
    this.onEnd = onEnd;
    this.muted = false;
    this.held = 0; // the position while paused; null while playing
    this.from = this.heard = 0; // where the sound last started, and the furthest heard since
    this.source = null;
    this.take = 0; // each play's number: what an earlier play still waits for is dropped
  }

  get paused() {
    return this.held !== null;
  }

  position() {
    if (this.held !== null) return this.held;
    this.heard = Math.max(this.heard, this.from + this.since());
    return this.heard;
  }

  // Plays from the moment (seconds of show time): the sound from that value of
  // the stream as played, and the clock with it.
  play(from) {
    this.stopSound();
    const take = ++this.take;
    this.held = null;
    this.from = this.heard = from;
    const alone = () => {
      const started = performance.now();
      this.since = () => (performance.now() - started) / 1000;
    };
    if (this.alone) return alone();
    this.since = () => 0; // held at the moment until the sound starts
    try {
      if (!context) {
        // The show's sound is media: heard with a phone's silent switch on, where the browser can say so.
        if (navigator.audioSession) navigator.audioSession.type = "playback";
        context = new AudioContext();
        volume = new GainNode(context, { gain: this.muted ? 0 : 1 });
        volume.connect(context.destination);
      }
    } catch (error) {
      this.alone = `the browser could not open its sound output (${error.message})`;
      return alone();
    }
    const source = new AudioBufferSourceNode(context, { buffer: this.buffer });
    source.connect(volume);
    const begin = () => {
      if (take !== this.take || this.source || this.alone) return;
      const startedAt = context.currentTime;
      source.start(startedAt, from);
      source.onended = () => take === this.take && this.onEnd();
      this.source = source;
      this.since = heardSince(startedAt);
    };
    const refused = () => {
      if (take !== this.take || this.source || this.alone) return;
      this.alone = "the browser did not start the sound";
      this.from = this.position();
      alone();
    };
    if (context.state === "running") begin();
    else context.resume().then(begin, refused);
    setTimeout(refused, 1500);
  }

  // Holds the moment heard, or an earlier one (the picture's); the sound stops at once.
  pause(at = this.position()) {
    if (this.held !== null) return;
    this.held = Math.min(at, this.position());
    this.take++;
    this.stopSound();
  }

  // A seek: playing, the sound goes on from there; paused, the moment held moves.
  seek(to) {
    if (this.held !== null) this.held = to;
    else this.play(to);
  }

  stop() {
    this.take++;
    this.stopSound();
    this.held = this.position();
  }

  setMuted(muted) {
    this.muted = muted;
    if (volume) volume.gain.value = muted ? 0 : 1;
  }

  stopSound() {
    const source = this.source;
    this.source = null;
    if (!source) return;
    source.onended = null;
    source.stop();
    source.disconnect();
  }
}
