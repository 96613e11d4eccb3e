"""What the Python module's tests share: the built phonaxis-cli and
phonaxis-gen (PHONAXIS_CLI, PHONAXIS_GEN, set by ctest), recordings
phonaxis-gen writes into a temporary folder, and bounds on what a bug can
make a test do: files written stay small (RLIMIT_FSIZE), and ctest's
timeout bounds the time."""

import csv
import io
import math
import os
import resource
import subprocess

import pytest

# No file a test writes (recordings, a worker's spill) needs more.
_MAX_FILE_BYTES = 64 << 20
resource.setrlimit(resource.RLIMIT_FSIZE, (_MAX_FILE_BYTES, _MAX_FILE_BYTES))


def _tool(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.skip(f"{variable} names the built program (ctest sets it)")
    return path


@pytest.fixture(scope="session")
def cli():
    """Runs the built phonaxis-cli: (exit status, stdout bytes, stderr text)."""
    program = _tool("PHONAXIS_CLI")

    def run(*args):
        done = subprocess.run([program, *args], capture_output=True, timeout=120)
        return done.returncode, done.stdout, done.stderr.decode()
    return run


def cli_table(out):
    """phonaxis-cli's --csv text read by the csv module alone: column name →
    list of values (float, NaN for an empty cell; file and label as text)."""
    rows = list(csv.reader(io.StringIO(out.decode())))
    header, rows = rows[0], rows[1:]
    columns = {}
    for c, name in enumerate(header):
        if name in ("file", "label"):
            columns[name] = [row[c] for row in rows]
        else:
            columns[name] = [float(row[c]) if row[c] else math.nan for row in rows]
    return columns


@pytest.fixture(scope="session")
def recordings(tmp_path_factory):
    """A folder of recordings phonaxis-gen wrote: demo.wav (22,050 Hz,
    3.5 s: vowels, their EGG on channel 1, airflow), vowel.wav (10 kHz,
    300 ms, float) and tone.wav (1 kHz sine, 200 ms)."""
    gen = _tool("PHONAXIS_GEN")
    folder = tmp_path_factory.mktemp("recordings")
    for args in (["demo", "demo.wav"], ["vowel", "vowel.wav", "--ms", "300"],
                 ["vowel", "vowel-i.wav", "--ms", "400", "--vowel", "i", "--f0", "180"],
                 ["tone", "tone.wav", "--ms", "200"]):
        subprocess.run([gen, args[0], str(folder / args[1]), *args[2:]], check=True,
                       capture_output=True, timeout=120)
    (folder / "demo.TextGrid").write_text(DEMO_GRID)
    return folder


# Intervals of one tier over demo.wav (3.5 s): "a", a gap, "u".
DEMO_GRID = """File type = "ooTextFile"
Object class = "TextGrid"

xmin = 0
xmax = 3.5
tiers? <exists>
size = 1
item []:
    item [1]:
        class = "IntervalTier"
        name = "phones"
        xmin = 0
        xmax = 3.5
        intervals: size = 3
        intervals [1]:
            xmin = 0
            xmax = 1
            text = "a"
        intervals [2]:
            xmin = 1
            xmax = 2
            text = ""
        intervals [3]:
            xmin = 2
            xmax = 3.5
            text = "u"
"""


@pytest.fixture(scope="session")
def seeds(tmp_path_factory):
    """The fuzzers' seed files phonaxis-gen writes: small WAV, AIFF and
    native files, some with labels."""
    folder = tmp_path_factory.mktemp("seeds")
    subprocess.run([_tool("PHONAXIS_GEN"), "seeds", str(folder)], check=True,
                   capture_output=True, timeout=120)
    return folder
