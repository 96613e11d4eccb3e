#!/usr/bin/env python3
"""Pitch accuracy of phonaxis-cli against the truth and the reference tool.

    bench/accuracy/pitch.py [--build DIR] [--work DIR] [--low HZ] [--high HZ]
                            [--no-speech] [--no-reference]

Writes the pitch corpus (phonaxis-gen pitch-corpus: F0 glides with their truth,
clean and with white or pink noise at 10 and 5 dB SNR, at 16,000, 22,050 and
44,100 Hz), makes speech with espeak-ng (male and female voices in English,
German and French), runs `phonaxis-cli pitch FILE` in the classic and the
precise mode (--set m_bPreciseAnalysis=false / true, so the columns mean the
same whichever mode is the default; the precise one is) and the reference tool's
autocorrelation track (praat --run bench/praat/pitch_ac_track.praat FILE: To
Pitch (ac) at 10 ms, 75-600 Hz), and prints

  clean glides  gross errors (> 20 % off the truth, among frames the truth and
                the track call voiced), fine error (mean |error| in Hz over the
                voiced frames without a gross error), unvoiced frames called
                voiced and voiced frames called unvoiced;
  noisy glides  gross errors (and the voicing errors, for information);
  speech        the share of the frames that both call voiced whose F0 differ
                by more than 20 % from the reference track; with sox, also for
                the same speech resampled to 96 kHz (against the reference's
                track of the original).

Voicing is only judged at least 30 ms away from a change of the true voicing
(a window straddling the change holds both). Our track is searched over the
reference's range, 75-600 Hz, unless --low/--high say otherwise. Frames are
compared at the times the tools print: our frame k at k x 10 ms, the
reference's at its own frame centres (the truth is interpolated there). Only
the Python standard library is used; praat and espeak-ng are optional (their
parts are skipped with a message when missing).
"""

import argparse
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
PRAAT_SCRIPT = os.path.join(ROOT, "bench", "praat", "pitch_ac_track.praat")
VOICING_MARGIN_MS = 30.0
GROSS = 0.2

SPEECH = [
    ("en-m", "en-us", "The quick brown fox jumps over the lazy dog. Where were you when the "
     "lights went out last night? I would rather walk along the river than drive."),
    ("en-f", "en-us+f3", "The quick brown fox jumps over the lazy dog. Where were you when the "
     "lights went out last night? I would rather walk along the river than drive."),
    ("de-m", "de", "Der Nordwind und die Sonne stritten sich, wer von ihnen beiden wohl der "
     "Stärkere wäre, als ein Wanderer, der in einen warmen Mantel gehüllt war, daherkam."),
    ("de-f", "de+f2", "Der Nordwind und die Sonne stritten sich, wer von ihnen beiden wohl der "
     "Stärkere wäre, als ein Wanderer, der in einen warmen Mantel gehüllt war, daherkam."),
    ("fr-m", "fr", "La bise et le soleil se disputaient, chacun assurant qu'il était le plus "
     "fort, quand ils ont vu un voyageur qui s'avançait, enveloppé dans son manteau."),
    ("fr-f", "fr+f4", "La bise et le soleil se disputaient, chacun assurant qu'il était le plus "
     "fort, quand ils ont vu un voyageur qui s'avançait, enveloppé dans son manteau."),
    ("en-m3", "en+m3", "Please call Stella. Ask her to bring these things with her from the "
     "store: six spoons of fresh snow peas, five thick slabs of blue cheese."),
    ("en-f2", "en+f2", "Please call Stella. Ask her to bring these things with her from the "
     "store: six spoons of fresh snow peas, five thick slabs of blue cheese."),
]


def run(command):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("pitch.py: %s failed (%d): %s" % (" ".join(command), result.returncode,
                                                    result.stderr.strip()))
    return result.stdout


def ours(cli, path, precise, low, high):
    """[(time_ms, f0_hz)] of phonaxis-cli's pitch track."""
    command = [cli, "pitch", path, "--set", "m_dCalculationLow=%g" % low,
               "--set", "m_dCalculationHigh=%g" % high]
    command += ["--set", "m_bPreciseAnalysis=%s" % ("true" if precise else "false")]
    track = []
    for line in run(command).splitlines()[1:]:
        fields = line.split("\t")
        if len(fields) >= 5:
            track.append((float(fields[2]), float(fields[3])))
    return track


def reference(path):
    track = []
    for line in run(["praat", "--run", PRAAT_SCRIPT, os.path.abspath(path)]).splitlines():
        fields = line.split("\t")
        if len(fields) == 2:
            track.append((float(fields[0]), float(fields[1])))
    return track


def read_truth(path):
    rows = []
    with open(path) as f:
        next(f)
        for line in f:
            t, f0 = line.split("\t")
            rows.append((float(t), float(f0)))
    return rows


class Truth:
    def __init__(self, rows):
        self.rows = rows
        self.step = rows[1][0] - rows[0][0]

    def _row(self, k):
        return self.rows[min(max(k, 0), len(self.rows) - 1)][1]

    def at(self, t):
        """The true F0 at t (linear between voiced rows, else the nearest row)."""
        k = int(t // self.step)
        a, b = self._row(k), self._row(k + 1)
        u = t / self.step - k
        if a > 0 and b > 0:
            return a + (b - a) * u
        return a if u < 0.5 else b

    def near_change(self, t):
        voiced = self.at(t) > 0
        k0 = int((t - VOICING_MARGIN_MS) // self.step)
        k1 = int((t + VOICING_MARGIN_MS) // self.step) + 1
        return any((self._row(k) > 0) != voiced for k in range(k0, k1 + 1))


class Counts:
    def __init__(self):
        self.both = self.gross = 0
        self.fine_sum = 0.0
        self.unvoiced = self.unvoiced_called_voiced = 0
        self.voiced = self.voiced_called_unvoiced = 0

    def add_glide(self, track, truth):
        for t, f0 in track:
            true = truth.at(t)
            if true > 0 and f0 > 0:
                self.both += 1
                if abs(f0 - true) > GROSS * true:
                    self.gross += 1
                else:
                    self.fine_sum += abs(f0 - true)
            if truth.near_change(t):
                continue
            if true > 0:
                self.voiced += 1
                self.voiced_called_unvoiced += f0 <= 0
            else:
                self.unvoiced += 1
                self.unvoiced_called_voiced += f0 > 0

    def add_speech(self, track, ref):
        by_time = {round(t): f for t, f in ref}
        for t, f0 in track:
            # The reference frame nearest our frame time (frames 10 ms apart).
            near = [by_time.get(round(t) + d) for d in range(-5, 6)]
            candidates = [(abs(d), f) for d, f in zip(range(-5, 6), near) if f is not None]
            if not candidates:
                continue
            f_ref = min(candidates)[1]
            if f0 > 0 and f_ref > 0:
                self.both += 1
                self.gross += abs(f0 - f_ref) > GROSS * f_ref

    def percent(self, part, whole):
        return "%6.2f %%" % (100.0 * part / whole) if whole else "     -  "

    def glide_row(self, name):
        fine = self.fine_sum / (self.both - self.gross) if self.both > self.gross else float("nan")
        return "%-26s %7d %9s %8.3f %10s %10s" % (
            name, self.both, self.percent(self.gross, self.both), fine,
            self.percent(self.unvoiced_called_voiced, self.unvoiced),
            self.percent(self.voiced_called_unvoiced, self.voiced))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--work", default=None)
    parser.add_argument("--low", type=float, default=75.0)
    parser.add_argument("--high", type=float, default=600.0)
    parser.add_argument("--no-speech", action="store_true")
    parser.add_argument("--no-reference", action="store_true")
    args = parser.parse_args()

    gen = os.path.join(args.build, "tools", "phonaxis-gen")
    cli = os.path.join(args.build, "src", "phonaxis-cli")
    for program in (gen, cli):
        if not os.access(program, os.X_OK):
            sys.exit("pitch.py: %s is missing; build phonaxis-gen and phonaxis-cli first" % program)
    work = args.work or os.path.join(args.build, "pitch-accuracy")
    corpus = os.path.join(work, "corpus")
    run([gen, "pitch-corpus", corpus])

    have_praat = not args.no_reference and shutil.which("praat") is not None
    if not have_praat and not args.no_reference:
        print("pitch.py: praat is not installed: the reference columns are skipped",
              file=sys.stderr)
    tools = [("classic", lambda p: ours(cli, p, False, args.low, args.high)),
             ("precise", lambda p: ours(cli, p, True, args.low, args.high))]
    if have_praat:
        tools.append(("reference", reference))

    # Glides, grouped by condition (clean, white10, ...) and by condition and rate.
    groups = {}
    names = sorted(f[:-4] for f in os.listdir(corpus) if f.endswith(".wav"))
    for name in names:
        _, voice, condition, rate = name.split("-")
        truth = Truth(read_truth(os.path.join(corpus, name + ".f0")))
        path = os.path.join(corpus, name + ".wav")
        for tool, track_of in tools:
            track = track_of(path)
            for key in ((tool, condition, "all"), (tool, condition, voice), (tool, condition, rate)):
                groups.setdefault(key, Counts()).add_glide(track, truth)

    print("pitch accuracy; our search range %g-%g Hz, the reference's 75-600 Hz" %
          (args.low, args.high))
    print()
    header = "%-26s %7s %9s %8s %10s %10s" % ("glides: tool/set", "frames", "gross",
                                              "fine Hz", "U->V", "V->U")
    for condition in ("clean", "white10", "white5", "pink10", "pink5"):
        print(header if condition == "clean" else "")
        for tool, _ in tools:
            for sub in ("all", "male", "female", "16000", "22050", "44100"):
                counts = groups.get((tool, condition, sub))
                if counts:
                    label = "%s %s%s" % (tool, condition, "" if sub == "all" else " " + sub)
                    print(counts.glide_row(label))
    noisy = {}
    for (tool, condition, sub), counts in groups.items():
        if condition != "clean" and sub == "all":
            total = noisy.setdefault(tool, Counts())
            total.both += counts.both
            total.gross += counts.gross
    print()
    for tool, total in noisy.items():
        print("noisy glides (SNR 5-10 dB), %-9s gross errors %s of %d frames" %
              (tool, total.percent(total.gross, total.both), total.both))

    if args.no_speech:
        return
    if shutil.which("espeak-ng") is None or not have_praat:
        print("pitch.py: speech needs espeak-ng and praat: skipped", file=sys.stderr)
        return
    speech_dir = os.path.join(work, "speech")
    os.makedirs(speech_dir, exist_ok=True)
    print()
    print("speech (espeak-ng): frames both call voiced that differ from the reference's "
          "ac track by > 20 %")
    print("%-8s %-10s %16s %16s" % ("voice", "espeak", "classic", "precise"))
    resample = shutil.which("sox") is not None
    rates = [("", "")] + ([("96k", "96000")] if resample else [])
    totals = {(tool, suffix): Counts() for tool in ("classic", "precise") for suffix, _ in rates}
    for name, voice, text in SPEECH:
        path = os.path.join(speech_dir, name + ".wav")
        run(["espeak-ng", "-v", voice, "-w", path, text])
        ref = reference(path)
        for suffix, rate in rates:
            analysed = path
            if rate:
                analysed = os.path.join(speech_dir, "%s-%s.wav" % (name, suffix))
                run(["sox", path, "-r", rate, analysed])
            row = []
            for tool, track_of in tools[:2]:
                counts = Counts()
                counts.add_speech(track_of(analysed), ref)
                totals[(tool, suffix)].add_speech(track_of(analysed), ref)
                row.append("%s/%d" % (counts.percent(counts.gross, counts.both).strip(),
                                      counts.both))
            print("%-8s %-10s %16s %16s" % ((name + " " + suffix).strip(), voice, *row))
    for suffix, _ in rates:
        print("%-8s %-10s %16s %16s" % (("all " + suffix).strip(), "", *("%s/%d" % (
            totals[(t, suffix)].percent(totals[(t, suffix)].gross, totals[(t, suffix)].both)
            .strip(), totals[(t, suffix)].both) for t in ("classic", "precise"))))


if __name__ == "__main__":
    main()
