#!/usr/bin/python3
"""The error table of bench/voice/run.sh's results: per measure and source
(our audio, our EGG, the reference tool on the audio), the median and the
largest error against the generator's truth over the signals — relative (%)
for jitter and shimmer, in dB for the HNR, in Hz for the F0 mean — and, for
the audio, how often ours is no worse than the reference's error (within
1 % of the truth or 0.25 dB): per signal, and per cell of the grid (a cell
is one rate, jitter, shimmer and HNR over its noise seeds, compared by the
mean |error| over the seeds). For the HNR it also counts the cells where the
reference is within 1 dB of the truth and ours is too. CPPS: ours against
cpps.py's computation.

usage: summary.py results.tsv
"""
import csv
import math
import statistics
import sys
from collections import defaultdict

PERTURBATION = ['jitter_local_pct', 'jitter_local_abs_us', 'jitter_rap_pct', 'jitter_ppq5_pct',
                'jitter_ddp_pct', 'shimmer_local_pct', 'shimmer_local_db', 'shimmer_apq3_pct',
                'shimmer_apq5_pct', 'shimmer_apq11_pct', 'shimmer_dda_pct']
SOURCES = ['audio', 'egg', 'praat']


def number(text):
    try:
        return float(text)
    except ValueError:
        return math.nan


def median(values):
    values = sorted(values)
    if not values:
        return math.nan
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else 0.5 * (values[middle - 1] + values[middle])


def cell_of(signal):
    """The grid cell of a signal: its name without the noise seed."""
    return signal.rsplit('-seed', 1)[0]


def main():
    rows = list(csv.DictReader(open(sys.argv[1]), delimiter='\t'))
    signals = defaultdict(dict)
    for row in rows:
        signals[row['signal']][row['source']] = row
    errors = defaultdict(list)   # (measure, source) -> errors
    by_cell = defaultdict(lambda: defaultdict(list))  # (measure, cell) -> source -> |errors|
    better = defaultdict(lambda: [0, 0])  # measure -> [audio no worse, compared]
    missing = defaultdict(int)
    cpps = []
    for name, by_source in signals.items():
        truth = by_source['truth']
        for measure in PERTURBATION + ['hnr_db', 'f0_mean_hz']:
            t = number(truth[measure])
            found = {}
            for source in SOURCES:
                if source not in by_source or math.isnan(number(by_source[source][measure])):
                    if not (source == 'egg' and measure == 'hnr_db'):
                        missing[(measure, source)] += 1
                    continue
                v = number(by_source[source][measure])
                error = 100.0 * (v - t) / t if measure in PERTURBATION else v - t
                errors[(measure, source)].append(error)
                by_cell[(measure, cell_of(name))][source].append(abs(error))
                found[source] = error
            if 'audio' in found and 'praat' in found:
                slack = 1.0 if measure in PERTURBATION else 0.25
                better[measure][1] += 1
                if abs(found['audio']) <= abs(found['praat']) + slack:
                    better[measure][0] += 1
        if 'audio' in by_source:
            cpps.append(number(by_source['audio']['cpps_db']) - number(truth['cpps_reference_db']))

    cell_better = defaultdict(lambda: [0, 0])
    hnr_within = [0, 0]  # cells where the reference is within 1 dB: ours too, all
    for (measure, cell), by in by_cell.items():
        if 'audio' not in by or 'praat' not in by:
            continue
        ours, reference = statistics.mean(by['audio']), statistics.mean(by['praat'])
        slack = 1.0 if measure in PERTURBATION else 0.25
        cell_better[measure][1] += 1
        if ours <= reference + slack:
            cell_better[measure][0] += 1
        if measure == 'hnr_db' and reference <= 1.0:
            hnr_within[1] += 1
            hnr_within[0] += ours <= 1.0

    print(f'{len(signals)} signals in {len({cell_of(s) for s in signals})} cells')
    print('measure                unit   ' + ''.join(f'{s:>22}' for s in SOURCES) +
          '   audio no worse than praat: signals, cells')
    print('                              ' + ''.join(f'{"median |err| / max":>22}' for _ in SOURCES))
    for measure in PERTURBATION + ['hnr_db', 'f0_mean_hz']:
        unit = '%rel' if measure in PERTURBATION else ('dB' if measure == 'hnr_db' else 'Hz')
        cells = ''
        for source in SOURCES:
            e = [abs(x) for x in errors[(measure, source)]]
            cell = f'{median(e):.2f} / {max(e):.2f}' if e else '—'
            if missing[(measure, source)]:
                cell += f' ({missing[(measure, source)]} none)'
            cells += f'{cell:>22}'
        b = better[measure]
        c = cell_better[measure]
        print(f'{measure:<22} {unit:<6} {cells}   {b[0]}/{b[1]}, {c[0]}/{c[1]}')
    print(f'hnr_db: cells where the reference is within 1 dB of the truth (mean |error|): '
          f'ours within 1 dB in {hnr_within[0]}/{hnr_within[1]}')
    if cpps:
        print(f'cpps_db: ours − reference computation: max |diff| {max(abs(c) for c in cpps):.2e} dB '
              f'over {len(cpps)} signals')
    # The signed median error by generated HNR and jitter: noise raises the
    # audio's perturbation, jitter lowers its HNR.
    print()
    print('median signed error by the generated HNR and jitter (audio / egg / praat)')
    print(f'{"hnr":>4} {"jitter":>6} {"jitter_local %rel":>26} {"shimmer_local %rel":>26} {"hnr dB":>22}')
    for hnr in sorted({float(s['truth']['hnr']) for s in signals.values()}):
        for jitter in sorted({float(s['truth']['jitter']) for s in signals.values()}):
            cells = []
            for measure in ['jitter_local_pct', 'shimmer_local_pct', 'hnr_db']:
                values = []
                for source in SOURCES:
                    e = []
                    for by_source in signals.values():
                        truth = by_source['truth']
                        if (float(truth['hnr']), float(truth['jitter'])) != (hnr, jitter):
                            continue
                        if source not in by_source:
                            continue
                        t, v = number(truth[measure]), number(by_source[source][measure])
                        if math.isnan(v):
                            continue
                        e.append(100.0 * (v - t) / t if measure in PERTURBATION else v - t)
                    values.append(f'{median(e):+.1f}' if e else '—')
                cells.append(' / '.join(values))
            print(f'{hnr:>4g} {jitter:>6g} {cells[0]:>26} {cells[1]:>26} {cells[2]:>22}')
    within = [abs(x) <= 10.0 for m in PERTURBATION for x in errors[(m, 'egg')]]
    print(f'EGG jitter and shimmer within 10 % of the truth: {sum(within)}/{len(within)}')


if __name__ == '__main__':
    main()
