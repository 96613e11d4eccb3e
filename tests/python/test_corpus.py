"""corpus.measure gives one table for a corpus, the same in local
processes, on a Dask cluster of two worker processes (loopback only) and
file by file in this process; a file that fails is a row with its error."""

import shutil
import threading

import pandas as pd
import pytest

import phonaxis
from phonaxis import corpus


@pytest.fixture(scope="module")
def corpus_files(recordings, tmp_path_factory):
    folder = tmp_path_factory.mktemp("corpus")
    files = []
    for i, name in enumerate(["vowel.wav", "vowel-i.wav", "tone.wav", "vowel.wav"]):
        files.append(str(shutil.copy(recordings / name, folder / f"{i}-{name}")))
    broken = folder / "broken.wav"
    broken.write_text("not a recording\n")
    files.insert(2, str(broken))
    return files


def serial(files, **settings):
    """The table file by file in this process, the failure as its row."""
    frames = []
    for path in files:
        try:
            frames.append(phonaxis.pitch(path, **settings))
        except phonaxis.PhonaxisError as error:
            frames.append(pd.DataFrame({"file": [path], "error": [error.message]}))
    table = pd.concat(frames, ignore_index=True)
    table["channel"] = table["channel"].astype("Int64")
    return table


@pytest.mark.parametrize("beside_a_thread", [False, True])
def test_local_processes_give_the_serial_table(corpus_files, beside_a_thread):
    # Workers are forked from a process running no other thread, else from a
    # server process.
    expected = serial(corpus_files, step_ms=5)
    corpus._close_pool()  # the workers start here, beside the thread or alone
    done = threading.Event()
    other = threading.Thread(target=done.wait)
    if beside_a_thread:
        other.start()
    try:
        table = corpus.measure(corpus_files, "pitch", workers=2, step_ms=5)
    finally:
        done.set()
        if beside_a_thread:
            other.join()
    pd.testing.assert_frame_equal(table, expected, check_exact=True)
    assert list(table.columns) == ["file", "channel", "time_ms", "f0_hz", "intensity_dbfs",
                                   "error"]
    failed = table[table["error"].notna()]
    assert failed["file"].tolist() == [corpus_files[2]]
    assert "not a recording Phonaxis can open" in failed["error"].iloc[0]
    # The workers stay for the next call, which gives the same table.
    again = corpus.measure(corpus_files, "pitch", workers=2, step_ms=5)
    pd.testing.assert_frame_equal(again, expected, check_exact=True)


def test_a_dask_cluster_gives_the_serial_table(corpus_files):
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        table = corpus.measure(corpus_files, "formant_track", client, step_ms=20)
    expected = corpus.measure(corpus_files, "formant_track", workers=1, step_ms=20)
    pd.testing.assert_frame_equal(table, expected, check_exact=True)
    assert table["error"].notna().sum() == 1
    assert table.loc[table["error"].isna(), "F1_hz"].notna().any()


def test_each_file_takes_the_textgrid_beside_it(recordings):
    files = [str(recordings / "demo.wav"), str(recordings / "vowel.wav")]
    table = corpus.measure(files, "formant_track", workers=1, step_ms=50, textgrid=True)
    demo = table[table["file"] == files[0]]
    assert set(demo["label"].dropna()) == {"a", "u"}
    failed = table[table["file"] == files[1]]
    assert len(failed) == 1 and "vowel.TextGrid" in failed["error"].iloc[0]


def test_a_wrong_argument_stops_before_any_file():
    with pytest.raises(TypeError, match="no argument 'stepms'"):
        corpus.measure(["x.wav"], "pitch", stepms=5)
    with pytest.raises(ValueError, match="unknown analysis"):
        corpus.measure(["x.wav"], "jitter")
