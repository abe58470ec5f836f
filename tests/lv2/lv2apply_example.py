#!/usr/bin/env python3
"""The lv2apply example in docs/bundles.md, run against the built Tavlo.lv2: a mono
file (fed to every input) and a four-channel file (stereo and its
side-chain) come out as stereo files of the same length, compressed.

Usage: lv2apply_example.py <path to Tavlo.lv2>
"""

import array
import math
import os
import shutil
import subprocess
import sys
import tempfile
import wave

URI = "https://quillmarshworks.example/plugins/tavlo"
RATE = 48000
FRAMES = 24000


def write_wav(path, channels):
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(RATE)
        data = array.array("h")
        for i in range(FRAMES):
            v = int(0.9 * 32767 * math.sin(2 * math.pi * 440 * i / RATE))
            data.extend([v] * channels)
        w.writeframes(data.tobytes())


def read_wav(path):
    with wave.open(path, "rb") as w:
        n, c = w.getnframes(), w.getnchannels()
        data = array.array("h")
        data.frombytes(w.readframes(n))
    return c, n, data


def rms(data):
    return math.sqrt(sum(float(v) * v for v in data) / max(1, len(data)))


def main():
    bundle = os.path.abspath(sys.argv[1])
    tool = shutil.which("lv2apply")
    if not tool:
        print("FAIL  lv2apply is missing: install the Debian package lilv-utils")
        return 1
    work = tempfile.mkdtemp(prefix="tavlo-lv2apply-")
    failed = 0
    try:
        os.makedirs(os.path.join(work, "lv2"))
        os.symlink(bundle, os.path.join(work, "lv2", "Tavlo.lv2"))
        env = dict(os.environ, LV2_PATH=os.path.join(work, "lv2"))
        for channels in (1, 4):
            src = os.path.join(work, "in%d.wav" % channels)
            write_wav(src, channels)
            levels = []
            for input_level in ("0", "60"):
                out = os.path.join(work, "out%d-%s.wav" % (channels, input_level))
                p = subprocess.run([tool, "-i", src, "-o", out, "-c", "input", input_level, URI], env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
                ok = p.returncode == 0 and os.path.exists(out)
                c, n, data = read_wav(out) if ok else (0, 0, [])
                ok = ok and c == 2 and n == FRAMES
                print("%s  %d-channel file, Input %s: %d channels, %d frames%s" % (
                    "PASS" if ok else "FAIL", channels, input_level, c, n,
                    "" if ok else "\n" + p.stdout.decode("utf-8", "replace")))
                failed += not ok
                levels.append(rms(data))
            ok = levels[1] < 0.8 * levels[0]
            print("%s  %d-channel file: Input 60 compresses (RMS %.0f against %.0f)" % (
                "PASS" if ok else "FAIL", channels, levels[1], levels[0]))
            failed += not ok
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
