#!/usr/bin/python3
"""Smoothed cepstral peak prominence (CPPS) of a WAV file's first channel
over a time range, computed with numpy from its published definition
(Hillenbrand, Cleveland & Erickson 1994; Hillenbrand & Houde 1996) with the
frame, smoothing and regression choices the voice report states:

  frames of 40 ms (rounded to samples) every 2 ms, wholly inside the range;
  Hamming window; zero-padded to the next power of two N;
  log power spectrum 10*log10(|X|^2 + 1e-30) over all N bins;
  its inverse transform c[q]; power cepstrum 10*log10(c[q]^2 + 1e-30) dB;
  time smoothing: mean of 10 consecutive frames;
  quefrency smoothing: centred mean over 2h+1 bins, h = max(1, round(0.25 ms * rate)),
  the cepstrum taken as even (c[-q] = c[q], c[N-q] = c[q]);
  peak over quefrency bins ceil(rate/ceiling) .. floor(rate/floor);
  least-squares line over bins round(1 ms * rate) .. N/2;
  CPP = peak - line at the peak's bin; CPPS = mean of CPP over the smoothed frames.

usage: cpps.py FILE.wav FROM_MS TO_MS [FLOOR_HZ CEILING_HZ]   (prints the CPPS in dB)
"""
import struct
import sys

import numpy as np


def read_wav(path):
    data = open(path, 'rb').read()
    if data[:4] != b'RIFF' or data[8:12] != b'WAVE':
        raise SystemExit(f'{path}: not a WAV file')
    i, fmt, raw = 12, None, None
    while i + 8 <= len(data):
        cid = data[i:i + 4]
        size = struct.unpack('<I', data[i + 4:i + 8])[0]
        if cid == b'fmt ':
            fmt = data[i + 8:i + 8 + size]
        elif cid == b'data':
            raw = data[i + 8:i + 8 + size]
            break
        i += 8 + size + (size & 1)
    tag, channels, rate = struct.unpack('<HHI', fmt[:8])
    bits = struct.unpack('<H', fmt[14:16])[0]
    if tag == 0xFFFE:
        tag = struct.unpack('<H', fmt[24:26])[0]
    if tag == 3 and bits == 32:
        x = np.frombuffer(raw, dtype='<f4')
    elif tag == 1 and bits == 16:
        x = np.frombuffer(raw, dtype='<i2') / 32768.0
    else:
        raise SystemExit(f'{path}: only float32 and 16-bit WAV files')
    return x.reshape(-1, channels).astype(np.float64), rate


def cpps(x, rate, from_sample, to_sample, floor_hz=75.0, ceiling_hz=600.0):
    frame = int(round(0.040 * rate))
    hop = max(1, int(round(0.002 * rate)))
    n = 1
    while n < frame:
        n *= 2
    starts = np.arange(from_sample, to_sample - frame + 1, hop)
    if len(starts) < 10:
        return float('nan')
    k = np.arange(frame)
    window = 0.54 - 0.46 * np.cos(2 * np.pi * k / (frame - 1))
    frames = np.stack([x[s:s + frame] * window for s in starts])
    spectrum = np.fft.fft(frames, n, axis=1)
    level = 10 * np.log10(np.abs(spectrum) ** 2 + 1e-30)
    c = np.fft.ifft(level, axis=1).real
    half = n // 2
    ceps = 10 * np.log10(c[:, :half + 1] ** 2 + 1e-30)
    # time smoothing over 10 consecutive frames
    cumulative = np.cumsum(np.vstack([np.zeros(half + 1), ceps]), axis=0)
    timed = (cumulative[10:] - cumulative[:-10]) / 10.0
    # quefrency smoothing, the cepstrum being even
    h = max(1, int(round(0.00025 * rate)))
    q = np.arange(-h, half + h + 1)
    reflected = np.abs(q)
    reflected = np.where(reflected > half, n - reflected, reflected)
    extended = timed[:, reflected]
    kernel = np.ones(2 * h + 1) / (2 * h + 1)
    smooth = np.stack([np.convolve(row, kernel, mode='valid') for row in extended])
    low = int(np.ceil(rate / ceiling_hz))
    high = min(int(np.floor(rate / floor_hz)), half)
    peaks = low + np.argmax(smooth[:, low:high + 1], axis=1)
    line_low = int(round(0.001 * rate))
    qs = np.arange(line_low, half + 1, dtype=np.float64)
    values = []
    for row, peak in zip(smooth, peaks):
        slope, intercept = np.polyfit(qs, row[line_low:half + 1], 1)
        values.append(row[peak] - (intercept + slope * peak))
    return float(np.mean(values))


def main():
    if len(sys.argv) not in (4, 6):
        raise SystemExit(__doc__)
    x, rate = read_wav(sys.argv[1])
    from_ms, to_ms = float(sys.argv[2]), float(sys.argv[3])
    floor_hz, ceiling_hz = (float(sys.argv[4]), float(sys.argv[5])) if len(sys.argv) == 6 else (75.0, 600.0)
    first = int(np.floor(from_ms * rate / 1000.0 + 0.5))
    last = int(np.floor(to_ms * rate / 1000.0 + 0.5))
    print(f'{cpps(x[:, 0], rate, first, last, floor_hz, ceiling_hz):.6f}')


if __name__ == '__main__':
    main()
