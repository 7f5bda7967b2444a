#!/usr/bin/env python3
"""tools/sound/compare_song.py on made-up recordings of a made-up song: the song
with silence around it and dropouts passes; a changed value, a silent
recording, too much silence, a skip too far and unequal stereo channels fail."""
import array
import os
import random
import subprocess
import sys
import tempfile
import wave

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "sound", "compare_song.py")
RATE = 44100


def main():
    work = tempfile.mkdtemp()
    random.seed(18)
    samples = array.array("h", [0] * RATE + [random.randint(-30000, 30000) for _ in range(4 * RATE)])
    with wave.open(os.path.join(work, "song.wav"), "wb") as song:
        song.setnchannels(1), song.setsampwidth(2), song.setframerate(RATE)
        song.writeframes(samples.tobytes())
    raw = samples.tobytes()
    played = array.array("h", raw[1 : 1 + (len(raw) - 1) // 2 * 2])
    played.byteswap()  # the callback's bytes, read big-endian
    silence = lambda seconds: array.array("h", [0] * int(seconds * RATE))

    def run(name, recording, expected_status, expected_text, *options):
        path = os.path.join(work, name + ".raw")
        with open(path, "wb") as out:
            out.write(recording.tobytes())
        result = subprocess.run([sys.executable, TOOL, "--song", os.path.join(work, "song.wav"), "--recording", path,
                                 *options], capture_output=True, text=True)
        said = result.stdout + result.stderr
        ok = result.returncode == expected_status and expected_text in said
        print(("ok  " if ok else "FAIL") + f" {name}: status {result.returncode}, {said.strip()}")
        return ok

    a, b = 2 * RATE, 3 * RATE
    changed = silence(0.3) + played
    changed[int(0.3 * RATE) + b] += 1
    stereo = array.array("h", [v for value in played for v in (value, value)])
    stereo[2 * a + 1] ^= 1
    results = [
        run("whole", silence(0.5) + played + silence(0.5), 0, "0 dropouts adding 0.000 s"),
        run("dropouts", silence(0.2) + played[:a] + silence(0.1) + played[a:b] + silence(0.1) + played[b:], 0,
            "2 dropouts adding 0.200 s of silence and losing 0.000 s"),
        run("replaced", played[:a] + silence(0.1) + played[a + RATE // 10 :], 0, "losing 0.100 s"),
        run("changed", changed, 1, f"not the song's value {b}"),
        run("silent", silence(2), 1, "the recording is silent"),
        run("too much silence", played[:a] + silence(1.2) + played[a:], 1, "more than 1.0 s added or lost"),
        run("skips too far", played[:a] + played[a + 2 * RATE :], 1, "does not go on"),
        run("stops early", played[:b], 1, "s early"),
        run("stereo", stereo, 1, "the two channels differ", "--channels", "2", "--format", "s16be"),
    ]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
