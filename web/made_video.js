// A video the page made, watched in the page's own player: the video
// element's time and sound stand in for the song's, so that pause, seek,
// mute, full screen and the timeline work on it as on the show.
import { say, setState } from "./page.js";
import { startShow } from "./player.js";

const film = document.getElementById("film");

// Plays like the song's Playback; position is show time (the span's start plus the video's time).
class VideoPlayback {
  constructor(offset, onEnd) {
    this.offset = offset;
    this.muted = film.muted;
    film.onended = onEnd;
  }

  get paused() {
    return film.paused;
  }

  position() {
    return this.offset + film.currentTime;
  }

  play(from) {
    film.currentTime = Math.max(from - this.offset, 0);
    film.play().catch((error) => say(`The video does not play here: ${error.message}.`));
  }

  pause() {
    film.pause();
  }

  seek(to) {
    film.currentTime = Math.max(to - this.offset, 0);
  }

  stop() {
    film.pause();
  }

  setMuted(muted) {
    this.muted = film.muted = muted;
  }
}

// Watches a video file made of show time from `from` on, in the player, from its start.
export async function watchVideo(file, from, onEnd) {
  if (film.src) URL.revokeObjectURL(film.src);
  film.src = URL.createObjectURL(file);
  await new Promise((resolve, reject) => {
    film.onloadedmetadata = resolve;
    film.onerror = () => reject(new Error("this browser does not play the video it made"));
  });
  const edition = { name: "video", video: true, width: film.videoWidth, height: film.videoHeight,
    duration: from + film.duration, playback: new VideoPlayback(from, onEnd) };
  setState("ready");
  startShow(edition, from);
}
