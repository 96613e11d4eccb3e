"""A whole corpus measured into one table.

Each file is one unit of work: a worker runs the analysis on it and sends
its table back as a DataFrame. Without a client the files are shared out
among local processes; given a ``dask.distributed.Client`` they run on its
cluster, which may span many machines (every worker must import phonaxis
and read the files at the same paths). A file that cannot be read or
analysed gives a row with its ``file`` and the ``error`` message instead
of stopping the corpus.
"""

from __future__ import annotations

import atexit
import concurrent.futures
import inspect
import multiprocessing
import os
import threading
from typing import Any, Iterable, Optional, Union

import pandas as pd

from . import analyses

_ANALYSES = {
    "pitch": analyses.pitch,
    "intensity": analyses.intensity,
    "formant_track": analyses.formant_track,
    "spectrum": analyses.spectrum,
    "spectrogram": analyses.spectrogram,
    "egg_cycles": analyses.egg_cycles,
}


def measure_file(path: str, analysis: str, settings: dict[str, Any]) -> pd.DataFrame:
    """One file's table, or a row of its ``file`` and ``error`` when it
    fails: what a worker runs."""
    if settings.get("textgrid") is True:
        settings = dict(settings, textgrid=os.path.splitext(path)[0] + ".TextGrid")
    try:
        frame = _ANALYSES[analysis](path, **settings)
    except Exception as error:  # a file's failure is its row, whatever it is
        message = getattr(error, "message", None) or str(error) or type(error).__name__
        return pd.DataFrame({"file": [path], "error": [message]})
    return frame


def _combined(frames: list[pd.DataFrame]) -> pd.DataFrame:
    frames = [frame for frame in frames if len(frame.columns)]
    if not frames:
        return pd.DataFrame({"file": pd.Series(dtype=str)})
    # Files without rows keep their columns in the table.
    table = pd.concat(frames, ignore_index=True)
    if "error" in table.columns:
        failed = table["error"].notna()
        for column in table.columns:
            # A failed file's row leaves the numbers missing: an integer
            # column (channel) holds them as a nullable integer.
            if column == "channel" and failed.any():
                table[column] = table[column].astype("Int64")
    columns = ["file"] + [c for c in table.columns if c != "file"]
    return table[columns]


def measure(paths: Iterable[Union[str, "os.PathLike[str]"]], analysis: str,
            client: Any = None, *, workers: Optional[int] = None,
            **settings: Any) -> pd.DataFrame:
    """Runs `analysis` ("pitch", "intensity", "formant_track", "spectrum",
    "spectrogram" or "egg_cycles") on every file of `paths` with the
    analysis's keyword arguments and settings (``channel=2``,
    ``step_ms=5``, ``m_dCalculationLow=60``, ``classic=True`` …) and
    returns one DataFrame: ``file`` first, then the analysis's columns, in
    the order of `paths`; a file that failed has one row with its message
    in an ``error`` column.

    Without `client` the files run in `workers` local processes (all the
    processors by default), which stay for the next call; with a
    ``dask.distributed.Client`` on its cluster. ``textgrid=True`` takes
    each file's labels from the TextGrid file beside it (the same name
    ending in .TextGrid). A script that runs it locally keeps its work under
    ``if __name__ == "__main__":``, as multiprocessing requires."""
    if analysis not in _ANALYSES:
        raise ValueError(f"unknown analysis {analysis!r}: one of {', '.join(_ANALYSES)}")
    accepted = inspect.signature(_ANALYSES[analysis]).parameters
    for name in settings:
        if name not in accepted and not name.startswith("m_") or name in ("source", "rate"):
            raise TypeError(f"{analysis} takes no argument {name!r}")
    files = [os.fspath(path) for path in paths]
    if not files:
        return _combined([])
    if client is not None:
        futures = client.map(measure_file, files, analysis=analysis, settings=settings,
                             pure=False)
        return _combined(client.gather(futures))
    count = min(workers or os.cpu_count() or 1, len(files))
    pool = _local_pool(count)
    try:
        # Files go out a few at a time (each still measured alone), four
        # batches a worker, so that a batch's messages cost less than its
        # files and the workers finish together.
        frames = list(pool.map(measure_file, files, [analysis] * len(files),
                               [settings] * len(files),
                               chunksize=max(1, len(files) // (4 * count))))
    except concurrent.futures.BrokenExecutor:
        _close_pool()  # a worker died (killed, out of memory): the next call starts anew
        raise
    return _combined(frames)


# The local workers stay between calls, as a notebook measures again and
# again: (their count, the pool). They end with this process.
_pool: Optional[tuple[int, concurrent.futures.ProcessPoolExecutor]] = None


def _local_pool(count: int) -> concurrent.futures.ProcessPoolExecutor:
    global _pool
    if _pool is not None and _pool[0] == count:
        return _pool[1]
    _close_pool()
    # The workers are forked from this process, with phonaxis and pandas
    # already imported, when no other thread runs here (one could hold a
    # lock the workers would inherit held); else from a server process that
    # imports them once (and this process's main script in every worker).
    if threading.active_count() == 1:
        context = multiprocessing.get_context("fork")
    else:
        context = multiprocessing.get_context("forkserver")
        context.set_forkserver_preload(["phonaxis.corpus"])
    _pool = (count, concurrent.futures.ProcessPoolExecutor(count, mp_context=context))
    return _pool[1]


def _close_pool() -> None:
    global _pool
    if _pool is not None:
        _pool[1].shutdown(wait=True, cancel_futures=True)
        _pool = None


# Before the interpreter takes its modules down, which the pool's own
# clean-up still needs.
atexit.register(_close_pool)
