#!/usr/bin/env python3
"""Formant accuracy on the synthetic vowel corpus, against its truth.

    bench/accuracy/formants.py [--build DIR] [--corpus DIR] [--no-reference]
                               [--women-ceiling HZ]

Writes the corpus (phonaxis-gen vowel-corpus: 320 vowels, men and women, F0
100 and 200 Hz, 10,000 / 16,000 / 22,050 / 44,100 Hz, 16-bit and float) and
measures F1-F3 at 250 ms:

  default    phonaxis-cli spectrum FILE --at 250, no setting touched (the
             precise analysis at its default ceiling of 5,000 Hz)
  classic    the same with --classic
  precise    --precise with the ceiling that suits the voice:
             --set m_dFormantCeiling=5000 (men) or 5500 (women; --women-ceiling
             sets another)
  ref 5000   the reference tool's To Formant (burg) at 5,000 Hz, the default's
             ceiling (bench/praat/formant_at.praat)
  reference  the reference tool with the precise column's ceilings
             (both skipped without `praat` on the PATH or with --no-reference)

It prints the mean absolute error (Hz) of F1 / F2 / F3 per group (men/women x
F0 100/200) and per rate, over the files where the formant was found, with
the count of files in which any of F1-F3 is missing; then the worst ratio,
over every group at every rate, of the default's error to the reference's
at the same ceiling, and of the precise column's to the reference's.
Python 3 standard library only.
"""

import argparse
import csv
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
CEILING = {"man": 5000, "woman": 5500}
AT_MS = 250


def run(command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def number(text):
    try:
        value = float(text)
    except ValueError:
        return None
    return value if value > 0 else None


def cli_formants(cli, path, options):
    command = [cli, "spectrum", path, "--at", str(AT_MS)] + options
    lines = run(command).strip().splitlines()
    # Header line, then: file, definition, F1 ... F5, B1 ... B5, comments.
    fields = lines[-1].split("\t")
    return [number(fields[2 + i]) for i in range(3)]


def reference_formants(path, ceiling):
    script = os.path.join(ROOT, "bench", "praat", "formant_at.praat")
    fields = run(["praat", "--run", script, path, str(ceiling), str(AT_MS / 1000)]).split("\t")
    return [number(fields[i]) for i in range(3)]


def summarise(rows):
    """rows of (group, truth, found) -> {group: ([mae F1, F2, F3], files missing any of F1-F3, files)}"""
    groups = {}
    for group, truth, found in rows:
        groups.setdefault(group, []).append((truth, found))
    table = {}
    for group, members in groups.items():
        errors = [[], [], []]
        missing = 0
        for truth, found in members:
            if any(f is None for f in found):
                missing += 1
            for i in range(3):
                if found[i] is not None:
                    errors[i].append(abs(found[i] - truth[i]))
        maes = [sum(e) / len(e) if e else float("nan") for e in errors]
        table[group] = (maes, missing, len(members))
    return table


def cell(entry):
    maes, missing, _ = entry
    return "{:>4.0f} / {:>4.0f} / {:>4.0f}  ({:>2d})".format(*maes, missing)


def print_table(title, groups, tables):
    names = list(tables)
    print(title)
    print("{:<16}".format("") + "".join("{:<25}".format(n) for n in names))
    for group in groups:
        print("{:<16}".format(group[1]) + "".join("{:<25}".format(cell(tables[n][group[0]])) for n in names))
    print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--corpus", help="folder for the corpus (default: a temporary one)")
    parser.add_argument("--no-reference", action="store_true")
    parser.add_argument("--women-ceiling", type=int, default=CEILING["woman"])
    args = parser.parse_args()
    CEILING["woman"] = args.women_ceiling

    gen = os.path.join(args.build, "tools", "phonaxis-gen")
    cli = os.path.join(args.build, "src", "phonaxis-cli")
    for program in (gen, cli):
        if not os.access(program, os.X_OK):
            sys.exit(f"formants.py: {program} is missing; build phonaxis-gen and phonaxis-cli first")
    reference = not args.no_reference and shutil.which("praat") is not None
    if not reference and not args.no_reference:
        print("formants.py: praat is not installed: the reference column is skipped", file=sys.stderr)

    corpus = args.corpus or tempfile.mkdtemp(prefix="phonaxis-vowels-")
    run([gen, "vowel-corpus", corpus])
    with open(os.path.join(corpus, "truth.csv"), newline="") as f:
        truth = list(csv.DictReader(f))

    methods = {"default": [], "classic": [], "precise": []}
    if reference:
        methods["ref 5000"] = []
        methods["reference"] = []
    for entry in truth:
        path = os.path.join(corpus, entry["file"])
        ceiling = CEILING[entry["sex"]]
        true = [float(entry[f"F{i}"]) for i in (1, 2, 3)]
        info = (entry["sex"], int(float(entry["f0"])), int(float(entry["rate"])))
        methods["default"].append((info, true, cli_formants(cli, path, [])))
        methods["classic"].append((info, true, cli_formants(cli, path, ["--classic"])))
        methods["precise"].append((info, true, cli_formants(
            cli, path, ["--precise", "--set", f"m_dFormantCeiling={ceiling}"])))
        if reference:
            methods["ref 5000"].append((info, true, reference_formants(path, 5000)))
            methods["reference"].append((info, true, reference_formants(path, ceiling)))

    groups = [((sex, f0), f"{'men' if sex == 'man' else 'women'}, F0 {f0}")
              for f0 in (100, 200) for sex in ("man", "woman")]
    rates = sorted({info[2] for info, _, _ in methods["default"]})
    by_group = {n: summarise([((i[0], i[1]), t, f) for i, t, f in r]) for n, r in methods.items()}
    by_rate = {n: summarise([(i[2], t, f) for i, t, f in r]) for n, r in methods.items()}
    print(f"{len(truth)} files; mean absolute error F1 / F2 / F3 (Hz), "
          "(files with any of F1-F3 missing)\n")
    print_table("per group", groups, by_group)
    print_table("per rate", [(r, f"{r} Hz") for r in rates], by_rate)

    if reference:
        for ours_name, theirs_name in (("default", "ref 5000"), ("precise", "reference")):
            worst = (0.0, None)
            for sex in ("man", "woman"):
                for f0 in (100, 200):
                    for rate in rates:
                        def pick(name):
                            rows = [((), t, f) for i, t, f in methods[name]
                                    if i == (sex, f0, rate)]
                            return summarise(rows)[()][0]
                        ours, theirs = pick(ours_name), pick(theirs_name)
                        for k in range(3):
                            ratio = ours[k] / max(theirs[k], 1e-9)
                            if ratio > worst[0]:
                                worst = (ratio, f"{sex}, F0 {f0}, {rate} Hz, F{k + 1}: "
                                                f"{ours[k]:.0f} vs {theirs[k]:.0f} Hz")
            print(f"{ours_name} / {theirs_name}, worst group at one rate: "
                  f"{worst[0]:.2f}x ({worst[1]})")


if __name__ == "__main__":
    main()
