"""Runs phonaxis-cli's commands in-process and reads their tables."""

from __future__ import annotations

import warnings

import pandas as pd

from . import _core
from ._errors import PhonaxisError, PhonaxisWarning

_PREFIX = "phonaxis-cli: "


def messages(err: str) -> str:
    """phonaxis-cli's messages without the program's name before each."""
    lines = [line[len(_PREFIX):] if line.startswith(_PREFIX) else line
             for line in err.splitlines()]
    return "\n".join(line for line in lines if line)


def run(args: list[str]) -> bytes:
    """phonaxis-cli ARGS: what it prints; PhonaxisError with its message when
    it fails, its notes as warnings when it does not."""
    status, out, err = _core.run_cli(args)
    if status != 0:
        raise PhonaxisError(messages(err) or f"phonaxis-cli {args[0]} failed", status)
    if err:
        warnings.warn(messages(err), PhonaxisWarning, stacklevel=3)
    return out


def table(csv: bytes) -> pd.DataFrame:
    """A --csv table as a DataFrame: ``file`` and ``label`` as text (a
    missing label None), ``channel`` as an integer, every other column a
    float64 with NaN where the cell is empty. Numbers are read back exactly
    (phonaxis-cli writes the shortest text that reads back as the double it
    holds)."""
    frame = pd.DataFrame(dict(_core.read_table(csv)))
    for column in ("file", "label"):
        if column in frame.columns:
            frame[column] = frame[column].astype(object)  # text even without rows
    if "channel" in frame.columns:
        frame["channel"] = frame["channel"].astype("int64")
    return frame
