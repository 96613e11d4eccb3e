"""Phonaxis from Python: recordings as numpy views, analyses as pandas tables.

    >>> import phonaxis
    >>> phonaxis.open("vowel.wav").channels[0].pitch()

:func:`open` reads a recording; its channels' ``samples`` are read-only
numpy views of the channel's buffer. The analyses (:func:`pitch`,
:func:`intensity`, :func:`formant_track`, :func:`spectrum`,
:func:`spectrogram`, :func:`egg_cycles`) run phonaxis-cli's own commands
in this process and return its tables with the same columns and numbers;
they are also methods of a Recording (its audio channel) and of a Channel.
:mod:`phonaxis.corpus` measures many files at once, in local processes or
on a Dask cluster.
"""

from __future__ import annotations

import functools
import os
import warnings
from typing import Any, Union

from . import _cli, _core
from ._core import Channel, Recording
from ._errors import PhonaxisError, PhonaxisWarning
from .analyses import (egg_cycles, formant_track, intensity, pitch, settings, spectrogram,
                       spectrum)

__all__ = ["open", "Recording", "Channel", "PhonaxisError", "PhonaxisWarning", "pitch",
           "intensity", "formant_track", "spectrum", "spectrogram", "egg_cycles", "settings",
           "version"]


def open(path: Union[str, "os.PathLike[str]"]) -> Recording:  # noqa: A001 - the module's verb
    """Opens the recording at `path` (WAV, AIFF or a native file) as
    phonaxis-cli opens it, with every channel's samples read. Raises
    PhonaxisError with phonaxis-cli's message when it cannot be read."""
    recording, err = _core.open_recording(os.fspath(path))
    if recording is None:
        raise PhonaxisError(_cli.messages(err) or f"\"{path}\" could not be opened", 1)
    if err:
        warnings.warn(_cli.messages(err), PhonaxisWarning, stacklevel=2)
    return recording


def version() -> str:
    """The version of Phonaxis the module belongs to."""
    return _cli.run(["--version"]).decode().split()[-1]


def _method(analysis: Any) -> Any:
    @functools.wraps(analysis)
    def method(self: Any, *args: Any, **kwargs: Any) -> Any:
        return analysis(self, None, *args, **kwargs)
    return method


for _analysis in (pitch, intensity, formant_track, spectrum, spectrogram, egg_cycles):
    setattr(Channel, _analysis.__name__, _method(_analysis))
    setattr(Recording, _analysis.__name__, _method(_analysis))
del _analysis
