// What the system knows of the show: a screen wake lock while it plays (a
// phone would lock its screen halfway), and the Media Session (title, a
// picture of the show, its position, and the media keys, headset buttons and
// lock screen controls).
import { canvas } from "./picture.js";
import { endShow, seek, showing, togglePause, whenShowChanges } from "./player.js";

let wakeLock = null;
async function holdScreen(hold) {
  if (!hold) {
    wakeLock?.release().catch(() => {});
    wakeLock = null;
  } else if (!wakeLock && navigator.wakeLock && !document.hidden) {
    try {
      wakeLock = await navigator.wakeLock.request("screen");
      wakeLock.addEventListener("release", () => (wakeLock = null));
    } catch {
      wakeLock = null; // refused (no permission, low battery): the screen may dim
    }
  }
}
// The system releases the lock when the page is hidden: asked again when it comes back.
document.addEventListener("visibilitychange", () => holdScreen(!document.hidden && isPlaying()));

const isPlaying = () => showing() !== null && !showing().paused;
const session = navigator.mediaSession;
const SEEK_SECONDS = 10;
let artwork = null; // a frame of the show, once one has been drawn past its title card

function tell() {
  const now = showing();
  session.playbackState = now ? (now.paused ? "paused" : "playing") : "none";
  if (!now) return;
  try {
    session.setPositionState({ duration: now.duration, playbackRate: 1, position: Math.min(now.position, now.duration) });
  } catch {
    // a browser that takes no position
  }
}

// A frame of the show for the lock screen: taken once, at the first frame
// well into the scene, while the drawing buffer still holds it.
async function takeArtwork() {
  const size = 512;
  const bitmap = await createImageBitmap(canvas);
  const square = document.createElement("canvas");
  square.width = square.height = size;
  const scale = size / Math.min(bitmap.width, bitmap.height);
  square.getContext("2d").drawImage(bitmap, (size - bitmap.width * scale) / 2, (size - bitmap.height * scale) / 2,
    bitmap.width * scale, bitmap.height * scale);
  bitmap.close();
  artwork = [{ src: square.toDataURL("image/jpeg", 0.8), sizes: `${size}x${size}`, type: "image/jpeg" }];
  session.metadata = new MediaMetadata({ title: "korvatine", artwork });
}

if (session) {
  session.metadata = new MediaMetadata({ title: "korvatine" });
  const handlers = {
    play: () => showing()?.paused && togglePause(),
    pause: () => showing() && !showing().paused && togglePause(),
    stop: endShow,
    seekto: ({ seekTime }) => seek({ to: seekTime }),
    seekbackward: ({ seekOffset }) => seek({ by: -(seekOffset ?? SEEK_SECONDS) }),
    seekforward: ({ seekOffset }) => seek({ by: seekOffset ?? SEEK_SECONDS }),
  };
  for (const [action, handler] of Object.entries(handlers)) {
    try {
      session.setActionHandler(action, handler);
    } catch {
      // an action this browser does not know
    }
  }
}

whenShowChanges((what) => {
  if (what !== "frame") holdScreen(isPlaying());
  if (!session) return;
  if (what === "frame") {
    if (!artwork && showing().m > 10 && !showing().edition.video) {
      artwork = [];
      takeArtwork().catch(() => (artwork = null));
    }
    return;
  }
  tell();
});
