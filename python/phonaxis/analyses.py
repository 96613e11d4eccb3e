"""The analyses of phonaxis-cli, returning pandas tables.

Each analysis runs phonaxis-cli's own command in this process (the GIL
released while it runs), so its numbers are the CLI's on the same file:
the same opening of the file at a new document's settings, the same
channel choice, engines and table. The DataFrame has the columns of
``phonaxis-cli COMMAND FILE --csv``, units in their names (``time_ms``,
``f0_hz``, ``intensity_dbfs``), NaN where the CLI leaves a cell empty.

The source is a path, a Recording (its audio channel), a Channel (that
channel of its file), or a one-dimensional numpy array with ``rate`` (Hz):
the array is written to a temporary 32-bit float WAV file first (as
float32, the samples' form in every recording phonaxis opens), and the
table has no ``file`` and ``channel`` columns.

Settings go by name as ``phonaxis-cli --set NAME=VALUE`` takes them
(``m_dCalculationLow=60``; see :func:`settings`), with ``precise=True`` or
``classic=True`` for ``--precise`` / ``--classic`` and ``config=PATH`` for
``--config``.

``labels=True`` adds a ``label`` column, the label in force at each row's
time (``--labels``): the recording's own, or with ``textgrid=PATH`` those of
a TextGrid file (its first tier, or ``tier=NAME`` or a number from 1).
"""

from __future__ import annotations

import json
import os
import tempfile
from typing import Any, Optional, Union

import numpy as np
import pandas as pd

from . import _cli, _core

Source = Union[str, "os.PathLike[str]", _core.Recording, _core.Channel, np.ndarray]


def _setting_text(value: Any) -> str:
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        return repr(value)
    return str(value)


def _number(value: float) -> str:
    return repr(float(value))


def write_float_wav(path: str, samples: np.ndarray, rate: float) -> None:
    """Writes `samples` (one channel) as a 32-bit IEEE float WAV file at
    `rate` Hz, the form phonaxis reads without any conversion of a float32
    sample."""
    data = np.ascontiguousarray(samples, dtype="<f4")
    if data.ndim != 1:
        raise ValueError("a numpy source holds one channel: a one-dimensional array")
    if not float(rate).is_integer() or not 0 < rate < 2**31:
        raise ValueError(f"rate must be a whole number of Hz above 0, not {rate!r}")
    rate = int(rate)
    size = data.nbytes
    header = b"".join([
        b"RIFF", (4 + 26 + 12 + 8 + size).to_bytes(4, "little"), b"WAVE",
        b"fmt ", (18).to_bytes(4, "little"),
        (3).to_bytes(2, "little"), (1).to_bytes(2, "little"),  # IEEE float, one channel
        rate.to_bytes(4, "little"), (4 * rate).to_bytes(4, "little"),
        (4).to_bytes(2, "little"), (32).to_bytes(2, "little"), (0).to_bytes(2, "little"),
        b"fact", (4).to_bytes(4, "little"), len(data).to_bytes(4, "little"),
        b"data", size.to_bytes(4, "little"),
    ])
    with open(path, "wb") as file:
        file.write(header)
        file.write(data.tobytes())


def _labelled(options: list[str], labels: bool, textgrid: Any, tier: Any) -> list[str]:
    """The options of a ``label`` column: the label in force at each row's
    time, from the recording (`labels`) or from the TextGrid `textgrid`
    (its tier `tier`, a name or a number from 1; else its first)."""
    if textgrid is not None:
        options = options + ["--labels", "--textgrid", os.fspath(textgrid)]
        if tier is not None:
            options += ["--tier", str(tier)]
    elif labels:
        options = options + ["--labels"]
    return options


def _run(command: str, source: Source, rate: Optional[float], channel: Optional[int],
         options: list[str], precise: bool, classic: bool, config: Any,
         settings: dict[str, Any]) -> pd.DataFrame:
    options = _labelled(options, settings.pop("labels", False), settings.pop("textgrid", None),
                        settings.pop("tier", None))
    args = [command]
    for name, value in settings.items():
        if not name.startswith("m_"):
            raise TypeError(f"{command}() got an unexpected keyword argument {name!r} "
                            "(settings are named m_…; phonaxis.settings() lists them)")
        args += ["--set", f"{name}={_setting_text(value)}"]
    if precise:
        args.append("--precise")
    if classic:
        args.append("--classic")
    if config is not None:
        args += ["--config", os.fspath(config)]
    args += options
    if isinstance(source, np.ndarray):
        if rate is None:
            raise TypeError(f"{command}() of a numpy array needs its rate (Hz)")
        with tempfile.TemporaryDirectory(prefix="phonaxis-") as folder:
            path = os.path.join(folder, "samples.wav")
            write_float_wav(path, source, rate)
            if channel is not None:
                args += ["--channel", str(channel)]
            frame = _cli.table(_cli.run(args + [path, "--csv"]))
        return frame.drop(columns=[c for c in ("file", "channel") if c in frame.columns])
    if rate is not None:
        raise TypeError("rate goes with a numpy array only; a file has its own")
    if isinstance(source, _core.Channel):
        if channel is not None and channel != source.index:
            raise ValueError(f"channel={channel} given for channel {source.index}")
        path, channel = source.path, source.index
    elif isinstance(source, _core.Recording):
        path = source.path
    else:
        path = os.fspath(source)
    if channel is not None:
        args += ["--channel", str(channel)]
    return _cli.table(_cli.run(args + [path, "--csv"]))


def _stretch(from_ms: Optional[float], to_ms: Optional[float]) -> list[str]:
    options = []
    if from_ms is not None:
        options += ["--from", _number(from_ms)]
    if to_ms is not None:
        options += ["--to", _number(to_ms)]
    return options


def pitch(source: Source, rate: Optional[float] = None, *, channel: Optional[int] = None,
          from_ms: Optional[float] = None, to_ms: Optional[float] = None,
          step_ms: Optional[float] = None, precise: bool = False, classic: bool = False,
          config: Any = None, labels: bool = False, textgrid: Any = None, tier: Any = None,
          **settings: Any) -> pd.DataFrame:
    """Time, pitch and intensity of every pitch frame of the audio channel
    (or `channel`), as ``phonaxis-cli pitch FILE --csv``: columns ``file``,
    ``channel``, ``time_ms``, ``f0_hz`` (NaN where unvoiced) and
    ``intensity_dbfs`` (dB re full scale in the m_dIntensityWindowLengthMS
    window starting at the row's time). `step_ms` is the frame step
    (m_dPitchStepSize); `from_ms`/`to_ms` keep the frames of a stretch."""
    if step_ms is not None:
        settings["m_dPitchStepSize"] = step_ms
    settings.update(labels=labels, textgrid=textgrid, tier=tier)
    return _run("pitch", source, rate, channel, _stretch(from_ms, to_ms), precise, classic,
                config, settings)


def intensity(source: Source, rate: Optional[float] = None, *, channel: Optional[int] = None,
              from_ms: Optional[float] = None, to_ms: Optional[float] = None,
              step_ms: Optional[float] = None, precise: bool = False, classic: bool = False,
              config: Any = None, labels: bool = False, textgrid: Any = None, tier: Any = None,
              **settings: Any) -> pd.DataFrame:
    """The intensity track: the ``intensity_dbfs`` column of :func:`pitch`
    at every pitch frame (every `step_ms`, m_dPitchStepSize, 10 ms by
    default), with ``file``, ``channel`` and ``time_ms``. The level is that
    of the m_dIntensityWindowLengthMS window starting at the row's time, in
    dB re full scale; NaN where the samples are digitally silent."""
    settings["m_bPitchDrawIntensity"] = True
    frame = pitch(source, rate, channel=channel, from_ms=from_ms, to_ms=to_ms, step_ms=step_ms,
                  precise=precise, classic=classic, config=config, labels=labels,
                  textgrid=textgrid, tier=tier, **settings)
    return frame.drop(columns=["f0_hz"])


def formant_track(source: Source, rate: Optional[float] = None, *, channel: Optional[int] = None,
                  from_ms: Optional[float] = None, to_ms: Optional[float] = None,
                  step_ms: Optional[float] = None, precise: bool = False, classic: bool = False,
                  config: Any = None, labels: bool = False, textgrid: Any = None, tier: Any = None,
                  **settings: Any) -> pd.DataFrame:
    """F1–F5 and their bandwidths every `step_ms` (default 10) as
    ``phonaxis-cli formant-track FILE --step MS --csv``: ``file``,
    ``channel``, ``time_ms``, ``F1_hz`` … ``F5_hz``, ``B1_hz`` … ``B5_hz``
    (NaN where a frame has no such formant)."""
    options = _stretch(from_ms, to_ms)
    if step_ms is not None:
        options += ["--step", _number(step_ms)]
    settings.update(labels=labels, textgrid=textgrid, tier=tier)
    return _run("formant-track", source, rate, channel, options, precise, classic, config,
                settings)


def spectrum(source: Source, rate: Optional[float] = None, *, at_ms: Optional[float] = None,
             from_ms: Optional[float] = None, to_ms: Optional[float] = None, frame: bool = False,
             channel: Optional[int] = None, precise: bool = False, classic: bool = False,
             config: Any = None, labels: bool = False, textgrid: Any = None, tier: Any = None,
             **settings: Any) -> pd.DataFrame:
    """The FFT/LPC spectrum at `at_ms` or averaged over `from_ms`–`to_ms`,
    as ``phonaxis-cli spectrum``: one row of ``F1_hz`` … ``F5_hz`` and
    ``B1_hz`` … ``B5_hz``, or with `frame` a row per frequency step
    (``frequency_hz``, ``fft_rel_db``, ``lpc_rel_db``)."""
    options = ["--at", _number(at_ms)] if at_ms is not None else _stretch(from_ms, to_ms)
    if frame:
        options.append("--frame")
    settings.update(labels=labels, textgrid=textgrid, tier=tier)
    return _run("spectrum", source, rate, channel, options, precise, classic, config, settings)


def spectrogram(source: Source, rate: Optional[float] = None, *, channel: Optional[int] = None,
                from_ms: Optional[float] = None, to_ms: Optional[float] = None,
                step_ms: Optional[float] = None, columns: Optional[int] = None,
                rows: Optional[int] = None, precise: bool = False, classic: bool = False,
                config: Any = None, labels: bool = False, textgrid: Any = None, tier: Any = None,
                **settings: Any) -> pd.DataFrame:
    """The spectrogram's formant tracks every `step_ms` (m_dLogStepSize,
    1 ms by default), as ``phonaxis-cli spectrogram``: ``file``,
    ``channel``, ``time_ms``, ``F1_hz`` … ``F5_hz``, computed with
    `columns` × `rows` (1000 × 256 by default)."""
    options = _stretch(from_ms, to_ms)
    if columns is not None:
        options += ["--columns", str(columns)]
    if rows is not None:
        options += ["--rows", str(rows)]
    if step_ms is not None:
        settings["m_dLogStepSize"] = step_ms
    settings.update(labels=labels, textgrid=textgrid, tier=tier)
    return _run("spectrogram", source, rate, channel, options, precise, classic, config,
                settings)


def egg_cycles(source: Source, rate: Optional[float] = None, *, channel: Optional[int] = None,
               precise: bool = False, classic: bool = False, config: Any = None,
               labels: bool = False, textgrid: Any = None, tier: Any = None,
               **settings: Any) -> pd.DataFrame:
    """The glottal cycles of an EGG channel, as ``phonaxis-cli egg FILE
    --channel N --csv``: ``contact_ms``, ``decontact_ms``,
    ``next_contact_ms``, the closed quotients ``cq``, ``cq_hb``, ``cq_pm``,
    ``cq_ht`` (NaN where not measured), ``peak_velocity_per_s`` (full scale
    per second) and ``peak_velocity_ms``. A Channel source is that channel;
    a path or Recording needs `channel`; an array is its own channel 0."""
    if isinstance(source, np.ndarray) and channel is None:
        channel = 0
    settings.update(labels=labels, textgrid=textgrid, tier=tier)
    return _run("egg", source, rate, channel, [], precise, classic, config, settings)


def settings(config: Any = None, **values: Any) -> pd.DataFrame:
    """Every setting the analyses take by name, as ``phonaxis-cli settings
    --json``: ``name``, ``value`` (a new document's, after `config` and
    `values`), ``unit``, ``minimum``, ``maximum`` (None where not a
    number), ``meaning`` and ``readBy`` (the commands that read it)."""
    args = ["settings", "--json"]
    if config is not None:
        args += ["--config", os.fspath(config)]
    for name, value in values.items():
        args += ["--set", f"{name}={_setting_text(value)}"]
    return pd.DataFrame(json.loads(_cli.run(args)))
