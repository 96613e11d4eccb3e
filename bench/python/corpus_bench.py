#!/usr/bin/python3
"""Times a corpus of 100 recordings measured into one table two ways, as a
user runs them: phonaxis.corpus.measure on 2 local worker processes, and
100 phonaxis-cli processes (2 at a time, each table read into pandas and
joined). The runs alternate; medians and the ratio are printed, and the
peak resident memory of a phonaxis-cli process and of a worker (GNU time).

    /usr/bin/python3 bench/python/corpus_bench.py [BUILD_DIR] [--runs N]
        [--analysis pitch|formant_track] [--seconds S] [--dask]

BUILD_DIR (default build/release) holds the built module (python/), the
programs (src/phonaxis-cli, tools/phonaxis-gen). A benchmark, not a test:
nothing is asserted.
"""

import argparse
import concurrent.futures
import io
import os
import statistics
import subprocess
import sys
import tempfile
import time

parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("build", nargs="?", default=os.path.join(os.path.dirname(__file__), "..",
                                                             "..", "build", "release"))
parser.add_argument("--runs", type=int, default=5)
parser.add_argument("--files", type=int, default=100)
parser.add_argument("--seconds", type=float, default=2.0, help="length of each recording")
parser.add_argument("--analysis", default="pitch", choices=["pitch", "formant_track"])
parser.add_argument("--dask", action="store_true",
                    help="also a Dask LocalCluster of 2 worker processes (started once, "
                         "before the runs, as a user keeps one)")
arguments = parser.parse_args()
build = os.path.abspath(arguments.build)
sys.path.insert(0, os.path.join(build, "python"))

import pandas as pd  # noqa: E402

from phonaxis import corpus  # noqa: E402

CLI = os.path.join(build, "src", "phonaxis-cli")
GEN = os.path.join(build, "tools", "phonaxis-gen")
COMMAND = {"pitch": "pitch", "formant_track": "formant-track"}[arguments.analysis]


def make_corpus(folder):
    files = []
    for i in range(arguments.files):
        path = os.path.join(folder, f"{i:03d}.wav")
        subprocess.run([GEN, "vowel", path, "--f0", str(90 + i), "--rate", "22050",
                        "--ms", str(int(arguments.seconds * 1000)), "--vowel", "aiu"[i % 3]],
                       check=True, capture_output=True)
        files.append(path)
    return files


def with_cli(files):
    def one(path):
        done = subprocess.run([CLI, COMMAND, path, "--csv"], check=True, capture_output=True)
        return pd.read_csv(io.BytesIO(done.stdout), float_precision="round_trip")
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        return pd.concat(list(pool.map(one, files)), ignore_index=True)


def with_module(files):
    return corpus.measure(files, arguments.analysis, workers=2)


# What one worker does, in a process of its own.
WORKER = """
import sys
sys.path.insert(0, sys.argv[1])
from phonaxis import corpus
for path in sys.argv[3:]:
    corpus.measure_file(path, sys.argv[2], {})
"""


def peak_mib(command):
    """The peak resident memory of `command` (GNU time's %M), in MiB."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M", *command], check=True,
                          capture_output=True, text=True)
    return int(done.stderr.strip().splitlines()[-1]) / 1024


def main():
    with tempfile.TemporaryDirectory(prefix="phonaxis-bench-") as folder:
        files = make_corpus(folder)
        print(f"{len(files)} recordings of {arguments.seconds:g} s at 22,050 Hz, "
              f"{arguments.analysis}, {arguments.runs} alternating runs; "
              f"load {os.getloadavg()[0]:.2f}, {os.cpu_count()} processors")
        runs = {"phonaxis-cli x100 (2 at a time)": with_cli,
                "corpus.measure (2 workers)": with_module}
        client = None
        if arguments.dask:
            from dask.distributed import Client, LocalCluster
            client = Client(LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                         host="127.0.0.1", dashboard_address=":0"))
            runs["corpus.measure (Dask, 2 workers)"] = lambda files: corpus.measure(
                files, arguments.analysis, client)
        times = {name: [] for name in runs}
        rows = {}
        for _ in range(arguments.runs):
            for name, run in runs.items():
                start = time.perf_counter()
                table = run(files)
                times[name].append(time.perf_counter() - start)
                rows[name] = len(table)
        medians = {name: statistics.median(values) for name, values in times.items()}
        for name, median in medians.items():
            print(f"{name:34s} median {median:7.3f} s  "
                  f"(runs {', '.join(f'{t:.3f}' for t in times[name])}; {rows[name]} rows)")
        cli = medians["phonaxis-cli x100 (2 at a time)"]
        for name, median in list(medians.items())[1:]:
            print(f"ratio phonaxis-cli / {name}: {cli / median:.2f}")
        if client is not None:
            client.close()
        cli_mib = peak_mib([CLI, COMMAND, files[0], "--csv"])
        worker_mib = peak_mib([sys.executable, "-c", WORKER, os.path.join(build, "python"),
                               arguments.analysis, *files])
        print(f"peak resident memory: a phonaxis-cli process {cli_mib:.1f} MiB, a worker "
              f"(phonaxis and pandas, the {len(files)} files one after the other) "
              f"{worker_mib:.1f} MiB")


if __name__ == "__main__":
    main()
