#!/usr/bin/env python3
"""Compares what a sound device received with the song as the show's audio
callback hands it over (from byte 1 of the song's little-endian samples, read
as big-endian 16-bit values), stretch by stretch: the recording may hold
silence before the song and after it, and dropouts, runs of silence inserted
where the device got nothing in time (a dropout may also lose some of the
song: the recording goes on up to 1 s further along it); every stretch
between them must be the song, in order.

    compare_song.py --song song.wav --recording FILE [--format s16le|s16be] [--channels 1|2]
                    [--max-added-seconds 1.0] [--max-dropouts N] [--end-allowance-seconds 0.5]

song.wav is the capture tool's (`korvatine_capture song`): the samples as
synthesised, 16-bit mono. Prints one line and exits 0 when the recording is
the song, 1 when it is not (silent, a stretch differs, more silence added or
more of the song lost than --max-added-seconds, or it stops too early)."""
import argparse
import array
import sys
import wave

RATE = 44100


def played_values(song_path):
    with wave.open(song_path, "rb") as song:
        assert song.getsampwidth() == 2 and song.getnchannels() == 1, "the song is 16-bit mono"
        data = song.readframes(song.getnframes())
    # Byte k + 1 of the song is the first byte of played value k, read big-endian.
    played = array.array("h", data[1 : 1 + (len(data) - 1) // 2 * 2])
    if sys.byteorder == "little":
        played.byteswap()
    return played


def recorded_values(path, sample_format, channels):
    values = array.array("h")
    with open(path, "rb") as recording:
        data = recording.read()
    values.frombytes(data[: len(data) // (2 * channels) * 2 * channels])
    if (sample_format == "s16be") == (sys.byteorder == "little"):
        values.byteswap()
    if channels == 2:
        left, right = values[0::2], values[1::2]
        if left != right:
            first = next(k for k in range(len(left)) if left[k] != right[k])
            sys.exit(f"FAILED: the two channels differ from frame {first} on; the song is mono")
        values = left
    return values


def zeros_from(values, start):
    """How many zero values start at start."""
    raw = values[start : start + 4 * RATE].tobytes()
    count = (len(raw) - len(raw.lstrip(b"\0"))) // 2
    return count if count < 4 * RATE else count + zeros_from(values, start + count)


def equal_run(a, i, b, j):
    """How many values of a from i equal those of b from j."""
    n = min(len(a) - i, len(b) - j)
    done = 0
    while done < n:
        size = min(4096, n - done)
        if a[i + done : i + done + size] == b[j + done : j + done + size]:
            done += size
            continue
        while a[i + done] == b[j + done]:
            done += 1
        return done
    return n


MAX_SKIP = RATE  # how far along the song a recording may go on after a dropout


def song_resumes(song, j, recording, i):
    """Where in the song, from j on, the recording from i goes on; None if not within MAX_SKIP."""
    pattern = recording[i : i + 256].tobytes()
    if len(pattern) < 512:
        return None
    raw = song[j : j + MAX_SKIP + 256].tobytes()
    found = raw.find(pattern)
    while found >= 0 and found % 2:
        found = raw.find(pattern, found + 1)
    return None if found < 0 else j + found // 2


def compare(song, recording, end_allowance):
    """(text, ok, dropouts, added values, lost values)."""
    i = zeros_from(recording, 0)
    if i == len(recording):
        return "the recording is silent", False, 0, 0, 0
    j = zeros_from(song, 0)
    dropouts = added = lost = 0
    start = i
    while j < len(song) and i < len(recording):
        run = equal_run(recording, i, song, j)
        i, j = i + run, j + run
        if j == len(song) or i == len(recording):
            break
        # A dropout: silence where the song sounds, as long as the zeros run past
        # the song's own; or the song going on further along (what the device
        # missed, or the recorder dropped, is lost).
        extra = zeros_from(recording, i)
        if i + extra == len(recording):
            break  # the recording ends in silence: the song stopped here
        resumes = song_resumes(song, j, recording, i + extra)
        if resumes is None:
            return (f"recorded value {i} is {recording[i]}, not the song's value {j} ({song[j]}), and "
                    f"the song does not go on within {MAX_SKIP / RATE} s after it "
                    f"(after {dropouts} dropouts)"), False, dropouts, added, lost
        dropouts += 1
        added += extra
        lost += resumes - j
        i, j = i + extra, resumes
    trailing = recording[i:]
    if any(trailing):
        return "the recording sounds on after the song", False, dropouts, added, lost
    missing = len(song) - j
    text = (f"{(i - start) / RATE:.2f} s recorded, the song to {missing / RATE:.3f} s before its end, "
            f"{dropouts} dropouts adding {added / RATE:.3f} s of silence and losing {lost / RATE:.3f} s of the song")
    if missing > end_allowance * RATE:
        return text + f": it stops {missing / RATE:.2f} s early", False, dropouts, added, lost
    return text, True, dropouts, added, lost


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--song", required=True)
    parser.add_argument("--recording", required=True)
    parser.add_argument("--format", choices=["s16le", "s16be"], default="s16le")
    parser.add_argument("--channels", type=int, choices=[1, 2], default=1)
    parser.add_argument("--max-added-seconds", type=float, default=1.0)
    parser.add_argument("--max-dropouts", type=int, default=-1)
    parser.add_argument("--end-allowance-seconds", type=float, default=0.5)
    arguments = parser.parse_args()
    text, ok, dropouts, added, lost = compare(
        played_values(arguments.song), recorded_values(arguments.recording, arguments.format, arguments.channels),
        arguments.end_allowance_seconds)
    if ok and max(added, lost) > arguments.max_added_seconds * RATE:
        text, ok = text + f": more than {arguments.max_added_seconds} s added or lost", False
    if ok and 0 <= arguments.max_dropouts < dropouts:
        text, ok = text + f": more than {arguments.max_dropouts} dropouts", False
    print(("ok: " if ok else "FAILED: ") + text)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
