"""The module's analyses give phonaxis-cli's tables: the same columns and,
number for number, the same values on the same files; a channel's samples
are a read-only view of its buffer; failures are PhonaxisError with the
CLI's message."""

import gc
import math

import numpy as np
import pytest

import phonaxis
from conftest import cli_table

# (analysis, its keyword arguments, phonaxis-cli's arguments after FILE)
CASES = [
    ("pitch", {}, ["pitch"]),
    ("pitch", {"classic": True, "step_ms": 5},
     ["pitch", "--classic", "--set", "m_dPitchStepSize=5"]),
    ("pitch", {"from_ms": 1200, "to_ms": 1700},
     ["pitch", "--from", "1200", "--to", "1700"]),
    ("pitch", {"m_dCalculationLow": 120, "m_bPitchDrawIntensity": False},
     ["pitch", "--set", "m_dCalculationLow=120", "--set", "m_bPitchDrawIntensity=false"]),
    ("formant_track", {"step_ms": 5}, ["formant-track", "--step", "5"]),
    ("formant_track", {"classic": True, "from_ms": 500, "to_ms": 900},
     ["formant-track", "--classic", "--from", "500", "--to", "900"]),
    ("spectrum", {"at_ms": 1000}, ["spectrum", "--at", "1000"]),
    ("spectrum", {"from_ms": 500, "to_ms": 900, "frame": True},
     ["spectrum", "--from", "500", "--to", "900", "--frame"]),
    ("spectrum", {"at_ms": 2500, "classic": True}, ["spectrum", "--at", "2500", "--classic"]),
    ("spectrogram", {"from_ms": 400, "to_ms": 900, "columns": 200, "rows": 64, "step_ms": 2},
     ["spectrogram", "--from", "400", "--to", "900", "--columns", "200", "--rows", "64",
      "--set", "m_dLogStepSize=2"]),
    ("egg_cycles", {"channel": 1}, ["egg", "--channel", "1"]),
    ("formant_track", {"step_ms": 20, "textgrid": "{grid}", "tier": "phones"},
     ["formant-track", "--step", "20", "--labels", "--textgrid", "{grid}", "--tier", "phones"]),
    ("egg_cycles", {"channel": 1, "textgrid": "{grid}"},
     ["egg", "--channel", "1", "--labels", "--textgrid", "{grid}"]),
]


def assert_same_table(frame, columns):
    assert list(frame.columns) == list(columns)
    assert len(frame) > 0
    for name, values in columns.items():
        if name == "label":
            assert frame[name].fillna("").tolist() == values
        elif name == "file":
            assert frame[name].tolist() == values
        else:
            mine = frame[name].to_numpy(dtype=float)
            assert np.array_equal(mine, np.array(values), equal_nan=True), name


@pytest.mark.parametrize("analysis,kwargs,command", CASES,
                         ids=[f"{c[0]}-{i}" for i, c in enumerate(CASES)])
def test_the_tables_are_the_clis(cli, recordings, analysis, kwargs, command):
    path = str(recordings / "demo.wav")
    grid = str(recordings / "demo.TextGrid")
    status, out, err = cli(command[0], path, "--csv",
                           *[a.replace("{grid}", grid) for a in command[1:]])
    assert status == 0, err
    kwargs = {k: v.replace("{grid}", grid) if isinstance(v, str) else v
              for k, v in kwargs.items()}
    frame = getattr(phonaxis, analysis)(path, **kwargs)
    assert_same_table(frame, cli_table(out))


def test_a_channel_and_an_array_give_the_clis_numbers(cli, recordings):
    path = str(recordings / "demo.wav")
    recording = phonaxis.open(path)
    _, out, _ = cli("egg", path, "--csv", "--channel", "1")
    assert_same_table(recording.channels[1].egg_cycles(), cli_table(out))
    _, out, _ = cli("pitch", path, "--csv")
    assert_same_table(recording.pitch(), cli_table(out))
    # An array is analysed as a file of its samples at its rate.
    vowel = str(recordings / "vowel-i.wav")
    _, out, _ = cli("formant-track", vowel, "--csv", "--step", "5")
    expected = cli_table(out)
    del expected["file"], expected["channel"]
    channel = phonaxis.open(vowel).channels[0]
    assert_same_table(phonaxis.formant_track(channel.samples, channel.rate, step_ms=5),
                      expected)


def test_a_file_name_the_csv_quotes_reads_back(cli, recordings, tmp_path):
    odd = tmp_path / 'a, "quoted" name.wav'
    odd.write_bytes((recordings / "vowel.wav").read_bytes())
    _, out, _ = cli("pitch", str(odd), "--csv", "--labels")
    frame = phonaxis.pitch(odd, labels=True)
    assert frame["file"].iloc[0] == str(odd) and frame["label"].isna().all()
    assert_same_table(frame, cli_table(out))


def test_intensity_is_the_pitch_tables_column(cli, recordings):
    path = str(recordings / "demo.wav")
    _, out, _ = cli("pitch", path, "--csv", "--set", "m_dPitchStepSize=20")
    expected = cli_table(out)
    del expected["f0_hz"]
    assert_same_table(phonaxis.intensity(path, step_ms=20), expected)


def test_settings_are_the_clis(cli):
    table = phonaxis.settings(m_dPitchStepSize=5)
    row = table.set_index("name").loc["m_dPitchStepSize"]
    assert (row["value"], row["unit"]) == (5, "ms")
    assert {"minimum", "maximum", "meaning"} <= set(table.columns)
    _, out, _ = cli("settings", "--json")
    assert len(table) == out.decode().count('"name"')


def test_samples_are_a_read_only_view_that_keeps_the_recording(recordings):
    recording = phonaxis.open(recordings / "demo.wav")
    channel = recording.channels[0]
    first, second = channel.samples, recording[0].samples
    assert first.dtype == np.float32 and len(first) == 77175
    assert np.shares_memory(first, second)
    assert first.base is not None and not first.flags.owndata
    assert not first.flags.writeable
    with pytest.raises(ValueError):
        first[0] = 1.0
    copy = first.copy()
    del recording, channel, second
    gc.collect()
    # The array holds the recording's buffer.
    assert np.array_equal(first, copy)
    assert math.isclose(float(np.abs(first).max()), float(np.abs(copy).max()))


def test_a_recordings_channels_describe_the_file(cli, recordings):
    import json
    path = str(recordings / "demo.wav")
    recording = phonaxis.open(path)
    _, out, _ = cli("info", path)
    info = json.loads(out)
    assert len(recording) == info["channelCount"] and recording.audio_channel == 0
    for channel, described in zip(recording.channels, info["channels"]):
        assert (channel.index, channel.title, channel.unit, channel.type, channel.rate,
                len(channel.samples), channel.length_ms) == (
            described["index"], described["title"], described["unit"], described["type"],
            described["sampleRate"], described["samples"], described["ms"])
        assert channel.labels == []
    with pytest.raises(IndexError):
        recording[3]


def test_labels_come_with_their_channel(cli, recordings, seeds, tmp_path):
    recording = phonaxis.open(seeds / "two-channels.kvqpc.pmf")
    assert [channel.labels for channel in recording.channels] == [[], [(1.5, None, "onset")]]
    # Intervals keep their ends.
    native = str(tmp_path / "labelled.pmf")
    status, _, err = cli("convert", str(recordings / "demo.wav"), native, "--labels",
                         str(recordings / "demo.TextGrid"))
    assert status == 0, err
    assert phonaxis.open(native).channels[0].labels == [(0.0, 1000.0, "a"),
                                                        (2000.0, 3500.0, "u")]


# (analysis, file, keyword arguments, phonaxis-cli's arguments after FILE, exit status)
FAILURES = [
    ("pitch", "vowel.wav", {"channel": 4}, ["--channel", "4"], 2),
    ("pitch", "vowel.wav", {"m_dNope": 1}, ["--set", "m_dNope=1"], 2),
    ("pitch", "vowel.wav", {"m_dCalculationLow": 900}, ["--set", "m_dCalculationLow=900"], 2),
    ("spectrum", "vowel.wav", {"at_ms": 90000}, ["--at", "90000"], 2),
    ("egg", "vowel.wav", {}, [], 2),
    ("pitch", "missing.wav", {}, [], 1),
    ("pitch", "broken.wav", {}, [], 1),
]


@pytest.mark.parametrize("analysis,name,kwargs,options,status", FAILURES,
                         ids=range(len(FAILURES)))
def test_failures_are_exceptions_with_the_clis_message(cli, recordings, analysis, name, kwargs,
                                                       options, status):
    (recordings / "broken.wav").write_text("not a recording\n")
    path = str(recordings / name)
    with pytest.raises(phonaxis.PhonaxisError) as caught:
        getattr(phonaxis, "egg_cycles" if analysis == "egg" else analysis)(path, **kwargs)
    cli_status, _, err = cli(analysis, path, "--csv", *options)
    assert (caught.value.status, cli_status) == (status, status)
    assert caught.value.message == err.strip().removeprefix("phonaxis-cli: ")


def test_opening_a_broken_file_is_an_exception(recordings):
    (recordings / "broken.wav").write_text("not a recording\n")
    with pytest.raises(phonaxis.PhonaxisError, match="not a recording Phonaxis can open"):
        phonaxis.open(recordings / "broken.wav")
