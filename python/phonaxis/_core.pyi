"""The extension under phonaxis: phonaxis-cli's commands in-process, and
recordings whose channels numpy views without a copy."""

import os
from typing import Optional, Union

import numpy as np
import numpy.typing as npt
import pandas as pd

StrPath = Union[str, "os.PathLike[str]"]
# A setting's value as --set takes it (phonaxis.settings() lists them).
Setting = Union[bool, int, float, str]

class Channel:
    """One channel of an open recording."""

    @property
    def index(self) -> int:
        """The channel's index in its recording, counted from 0."""
    @property
    def path(self) -> str:
        """The path of the recording the channel belongs to."""
    @property
    def title(self) -> str:
        """The channel's title."""
    @property
    def unit(self) -> str:
        """The unit of its calibrated values."""
    @property
    def type(self) -> int:
        """The channel type as the file stores it (1: the audio channel)."""
    @property
    def rate(self) -> float:
        """The sample rate in Hz."""
    @property
    def length_ms(self) -> float:
        """The channel's length in ms."""
    @property
    def samples(self) -> npt.NDArray[np.float32]:
        """The samples (full scale ±1) as a read-only view of the channel's
        buffer; the array keeps the recording open."""
    @property
    def labels(self) -> list[tuple[float, Optional[float], str]]:
        """The labels as (time_ms, end_ms or None, text), in order."""
    # The analyses of phonaxis.analyses on this channel.
    def pitch(self, *, from_ms: Optional[float] = None, to_ms: Optional[float] = None,
              step_ms: Optional[float] = None, precise: bool = False, classic: bool = False,
              config: Optional[StrPath] = None, labels: bool = False,
              textgrid: Optional[StrPath] = None, tier: Union[str, int, None] = None,
              **settings: Setting) -> pd.DataFrame:
        """phonaxis.pitch of this channel: time_ms, f0_hz, intensity_dbfs."""
    def intensity(self, *, from_ms: Optional[float] = None, to_ms: Optional[float] = None,
                  step_ms: Optional[float] = None, precise: bool = False, classic: bool = False,
                  config: Optional[StrPath] = None, labels: bool = False,
                  textgrid: Optional[StrPath] = None, tier: Union[str, int, None] = None,
                  **settings: Setting) -> pd.DataFrame:
        """phonaxis.intensity: the pitch table's intensity_dbfs every step_ms."""
    def formant_track(self, *, from_ms: Optional[float] = None, to_ms: Optional[float] = None,
                      step_ms: Optional[float] = None, precise: bool = False,
                      classic: bool = False, config: Optional[StrPath] = None,
                      labels: bool = False, textgrid: Optional[StrPath] = None,
                      tier: Union[str, int, None] = None, **settings: Setting) -> pd.DataFrame:
        """phonaxis.formant_track: F1_hz … F5_hz, B1_hz … B5_hz every step_ms."""
    def spectrum(self, *, at_ms: Optional[float] = None, from_ms: Optional[float] = None,
                 to_ms: Optional[float] = None, frame: bool = False, precise: bool = False,
                 classic: bool = False, config: Optional[StrPath] = None, labels: bool = False,
                 textgrid: Optional[StrPath] = None, tier: Union[str, int, None] = None,
                 **settings: Setting) -> pd.DataFrame:
        """phonaxis.spectrum: formants and bandwidths at at_ms or over a stretch."""
    def spectrogram(self, *, from_ms: Optional[float] = None, to_ms: Optional[float] = None,
                    step_ms: Optional[float] = None, columns: Optional[int] = None,
                    rows: Optional[int] = None, precise: bool = False, classic: bool = False,
                    config: Optional[StrPath] = None, labels: bool = False,
                    textgrid: Optional[StrPath] = None, tier: Union[str, int, None] = None,
                    **settings: Setting) -> pd.DataFrame:
        """phonaxis.spectrogram: the spectrogram's formant tracks every step_ms."""
    def egg_cycles(self, *, precise: bool = False, classic: bool = False,
                   config: Optional[StrPath] = None, labels: bool = False,
                   textgrid: Optional[StrPath] = None, tier: Union[str, int, None] = None,
                   **settings: Setting) -> pd.DataFrame:
        """phonaxis.egg_cycles: glottal cycles and closed quotients."""

class Recording:
    """A recording opened with phonaxis.open."""

    @property
    def path(self) -> str:
        """The path it was opened from."""
    @property
    def channels(self) -> list[Channel]:
        """Its channels, in the file's order."""
    @property
    def audio_channel(self) -> Optional[int]:
        """The index of the audio channel the analyses take by default."""
    def __len__(self) -> int: ...
    def __getitem__(self, index: int) -> Channel: ...
    # The analyses of phonaxis.analyses on the audio channel (or `channel`).
    def pitch(self, *, channel: Optional[int] = None, from_ms: Optional[float] = None,
              to_ms: Optional[float] = None, step_ms: Optional[float] = None,
              precise: bool = False, classic: bool = False, config: Optional[StrPath] = None,
              labels: bool = False, textgrid: Optional[StrPath] = None,
              tier: Union[str, int, None] = None, **settings: Setting) -> pd.DataFrame:
        """phonaxis.pitch of this recording's audio channel: time_ms, f0_hz, intensity_dbfs."""
    def intensity(self, *, channel: Optional[int] = None, from_ms: Optional[float] = None,
                  to_ms: Optional[float] = None, step_ms: Optional[float] = None,
                  precise: bool = False, classic: bool = False, config: Optional[StrPath] = None,
                  labels: bool = False, textgrid: Optional[StrPath] = None,
                  tier: Union[str, int, None] = None, **settings: Setting) -> pd.DataFrame:
        """phonaxis.intensity: the pitch table's intensity_dbfs every step_ms."""
    def formant_track(self, *, channel: Optional[int] = None, from_ms: Optional[float] = None,
                      to_ms: Optional[float] = None, step_ms: Optional[float] = None,
                      precise: bool = False, classic: bool = False,
                      config: Optional[StrPath] = None, labels: bool = False,
                      textgrid: Optional[StrPath] = None, tier: Union[str, int, None] = None,
                      **settings: Setting) -> pd.DataFrame:
        """phonaxis.formant_track: F1_hz … F5_hz, B1_hz … B5_hz every step_ms."""
    def spectrum(self, *, at_ms: Optional[float] = None, from_ms: Optional[float] = None,
                 to_ms: Optional[float] = None, frame: bool = False, channel: Optional[int] = None,
                 precise: bool = False, classic: bool = False, config: Optional[StrPath] = None,
                 labels: bool = False, textgrid: Optional[StrPath] = None,
                 tier: Union[str, int, None] = None, **settings: Setting) -> pd.DataFrame:
        """phonaxis.spectrum: formants and bandwidths at at_ms or over a stretch."""
    def spectrogram(self, *, channel: Optional[int] = None, from_ms: Optional[float] = None,
                    to_ms: Optional[float] = None, step_ms: Optional[float] = None,
                    columns: Optional[int] = None, rows: Optional[int] = None,
                    precise: bool = False, classic: bool = False, config: Optional[StrPath] = None,
                    labels: bool = False, textgrid: Optional[StrPath] = None,
                    tier: Union[str, int, None] = None, **settings: Setting) -> pd.DataFrame:
        """phonaxis.spectrogram: the spectrogram's formant tracks every step_ms."""
    def egg_cycles(self, *, channel: Optional[int] = None, precise: bool = False,
                   classic: bool = False, config: Optional[StrPath] = None, labels: bool = False,
                   textgrid: Optional[StrPath] = None, tier: Union[str, int, None] = None,
                   **settings: Setting) -> pd.DataFrame:
        """phonaxis.egg_cycles: glottal cycles and closed quotients."""

def run_cli(args: list[str]) -> tuple[int, bytes, str]:
    """Runs phonaxis-cli with `args` in this process, the GIL released:
    (exit status, standard output, messages)."""

def read_table(csv: bytes) -> list[tuple[str, "npt.NDArray[np.float64] | list[Optional[str]]"]]:
    """phonaxis-cli's --csv table as (name, values) columns: file and label
    as text, the others float64 arrays with NaN for an empty cell."""

def engines_running() -> int:
    """How many calls into the core run at this moment (GIL released)."""

def open_recording(path: str) -> tuple[Optional[Recording], str]:
    """Opens `path` with every channel's samples: (the recording or None,
    messages)."""
