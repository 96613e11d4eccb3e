#!/usr/bin/env python3
"""Formant tracks of synthetic speech beside the reference tool's.

    bench/accuracy/tracks.py [--build DIR] [--work DIR]

Speaks one sentence with espeak-ng in four voices (English and German, a
man's and a woman's), resamples each to 16,000 and 44,100 Hz with sox
(22,050 Hz is espeak-ng's own rate), and compares F1 and F2 every 10 ms with
the reference tool's Burg track at the same ceiling (5,000 Hz,
bench/praat/formant_track.praat) over the frames its pitch track calls
voiced:

  track      phonaxis-cli formant-track FILE --table (the default: precise)
  track cl.  the same with --classic
  spectro    phonaxis-cli spectrogram FILE --table --set m_dLogStepSize=10
             (rows every 10 ms; 1000 columns, the default)
  spectro cl the same with --classic

It prints, per file and over all, the share of those frames in which F1 or
F2 is missing or more than 20 % away from the reference's. There is no
truth here: the reference is a yardstick, not the answer. Needs espeak-ng,
sox and praat on the PATH. Python 3 standard library only.
"""

import argparse
import csv
import io
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
SENTENCE = ("The quick brown fox jumps over the lazy dog while seven wise men "
            "read old books beside the river.")
VOICES = ["en+m3", "en+f3", "de", "de+f2"]
RATES = [16000, 22050, 44100]


def run(command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def reference(path):
    script = os.path.join(ROOT, "bench", "praat", "formant_track.praat")
    frames = {}
    for line in run(["praat", "--run", script, path, "5000"]).splitlines():
        t, f1, f2, voiced = line.split("\t")
        if voiced == "1" and float(f1) > 0 and float(f2) > 0:
            frames[round(float(t))] = (float(f1), float(f2))
    return frames


def ours(cli, path, command, options):
    text = run([cli, command, path, "--table"] + options)
    rows = {}
    for row in csv.DictReader(io.StringIO(text), delimiter="\t"):
        f1 = float(row["F1_hz"]) if row["F1_hz"] else None
        f2 = float(row["F2_hz"]) if row["F2_hz"] else None
        rows[round(float(row["time_ms"]))] = (f1, f2)
    return rows


def disagreement(track, truth):
    wrong = 0
    for t, (r1, r2) in truth.items():
        f1, f2 = track.get(t, (None, None))
        if f1 is None or f2 is None or abs(f1 - r1) > 0.2 * r1 or abs(f2 - r2) > 0.2 * r2:
            wrong += 1
    return wrong


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--work", help="folder for the recordings (default: a temporary one)")
    args = parser.parse_args()
    for program in ("espeak-ng", "sox", "praat"):
        if shutil.which(program) is None:
            sys.exit(f"tracks.py: {program} is not installed")
    cli = os.path.join(args.build, "src", "phonaxis-cli")
    work = args.work or tempfile.mkdtemp(prefix="phonaxis-tracks-")
    os.makedirs(work, exist_ok=True)

    methods = {
        "track": ("formant-track", []),
        "track cl.": ("formant-track", ["--classic"]),
        "spectro": ("spectrogram", ["--set", "m_dLogStepSize=10"]),
        "spectro cl": ("spectrogram", ["--set", "m_dLogStepSize=10", "--classic"]),
    }
    totals = {name: 0 for name in methods}
    frames = 0
    print("{:<22}{:>8}".format("file", "frames") + "".join("{:>12}".format(n) for n in methods))
    for voice in VOICES:
        original = os.path.join(work, f"{voice}-22050.wav")
        run(["espeak-ng", "-v", voice, "-w", original, SENTENCE])
        for rate in RATES:
            path = os.path.join(work, f"{voice}-{rate}.wav")
            if rate != 22050:
                run(["sox", original, "-r", str(rate), path])
            truth = reference(path)
            frames += len(truth)
            line = "{:<22}{:>8}".format(os.path.basename(path), len(truth))
            for name, (command, options) in methods.items():
                wrong = disagreement(ours(cli, path, command, options), truth)
                totals[name] += wrong
                line += "{:>11.1f}%".format(100.0 * wrong / max(len(truth), 1))
            print(line)
    print("{:<22}{:>8}".format("all", frames) +
          "".join("{:>11.1f}%".format(100.0 * totals[n] / max(frames, 1)) for n in methods))


if __name__ == "__main__":
    main()
