#!/usr/bin/env bash
# Times our whole pitch track against the reference tool's To Pitch (cc) on
# the same recording, the two taking turns in one run so that both see the
# same machine load, and prints every round, the medians and their ratio.
#
#   bench/praat/pitch_side_by_side.sh [BUILD_DIR] [ROUNDS]
#       BUILD_DIR: a Release build with the benchmarks on (default build/release);
#       ROUNDS: turns of each tool (default 3)
#
# The recording is the analysis benchmarks' speech (phonaxis-gen
# bench-recordings; PHONAXIS_BENCH_SPEECH_MIN minutes, default 60, 44,100 Hz),
# written once into PHONAXIS_BENCH_DIR (default BUILD_DIR/bench-recordings).
# Ours: phonaxis_bench_pitchtrack, wall time of DoPitchCepstral with a new
# document's pitch settings on one thread per core (threads:0), the file
# opened outside the timing. Theirs: pitch_cc.praat beside this script, the
# wall time of the command alone (the script's stopwatch, reading excluded).
# On a shared machine the ratio of the medians is the figure to quote; the
# single times drift with the load. PHONAXIS_BENCH_BASELINE may name the
# phonaxis_bench_pitchtrack of another build (an earlier version): it then
# takes its turn in every round too, and its ratios are printed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build/release}
rounds=${2:-3}
# Absolute: the reference tool reads a relative path from the script's folder.
build=$(cd "$build" && pwd)
gen=$build/tools/phonaxis-gen
ours=$build/bench/phonaxis_bench_pitchtrack
for program in "$gen" "$ours"; do
    if [ ! -x "$program" ]; then
        echo "pitch_side_by_side.sh: $program is missing; build the targets phonaxis-gen and" \
             "phonaxis_bench_pitchtrack in $build first" >&2
        exit 2
    fi
done
if ! command -v praat >/dev/null 2>&1; then
    echo "pitch_side_by_side.sh: praat is not installed (apt-get install praat)" >&2
    exit 2
fi

minutes=${PHONAXIS_BENCH_SPEECH_MIN:-60}
work=${PHONAXIS_BENCH_DIR:-$build/bench-recordings}
recording=$work/speech.wav
# The recording is remade only when its length is not the one asked for
# (44,100 Hz mono float: 4 bytes a sample after a 44-byte header).
expected=$(awk -v m="$minutes" 'BEGIN { printf "%d", m * 60 * 44100 * 4 + 44 }')
if [ ! -f "$recording" ] || [ "$(stat -c %s "$recording")" != "$expected" ]; then
    "$gen" bench-recordings "$work" --speech-min "$minutes" --egg-min 0.1 >/dev/null
fi
echo "recording: $recording ($minutes min, 44,100 Hz); load: $(cut -d' ' -f1-3 /proc/loadavg)"

baseline=${PHONAXIS_BENCH_BASELINE:-}
if [ -n "$baseline" ] && [ ! -x "$baseline" ]; then
    echo "pitch_side_by_side.sh: PHONAXIS_BENCH_BASELINE=$baseline is not a program" >&2
    exit 2
fi

oursSeconds() { # program
    PHONAXIS_BENCH_FILE=$recording "$1" --benchmark_filter='^PitchTrack/threads:0' \
        --benchmark_format=csv 2>/dev/null |
        awk -F, '/^"PitchTrack\/threads:0/ {
            scale = $5 == "ns" ? 1e-9 : $5 == "us" ? 1e-6 : $5 == "ms" ? 1e-3 : 1
            printf "%.3f", $3 * scale }'
}
theirSeconds() {
    praat --run "$here/pitch_cc.praat" "$recording" | awk -F'\t' 'END { printf "%.3f", $2 }'
}
median() {
    tr ' ' '\n' | grep -v '^$' | sort -g |
        awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

oursAll=""
theirsAll=""
baselineAll=""
printf '%-6s %12s %14s %12s\n' round "ours (s)" "reference (s)" "baseline (s)"
for ((round = 1; round <= rounds; ++round)); do
    a=$(oursSeconds "$ours")
    b=$(theirSeconds)
    c=-
    if [ -n "$baseline" ]; then
        c=$(oursSeconds "$baseline")
        baselineAll="$baselineAll $c"
    fi
    oursAll="$oursAll $a"
    theirsAll="$theirsAll $b"
    printf '%-6s %12s %14s %12s   load %s\n' "$round" "$a" "$b" "$c" "$(cut -d' ' -f1 /proc/loadavg)"
done
oursMedian=$(echo "$oursAll" | median)
theirsMedian=$(echo "$theirsAll" | median)
baselineMedian=-
if [ -n "$baseline" ]; then
    baselineMedian=$(echo "$baselineAll" | median)
fi
printf '%-6s %12s %14s %12s\n' median "$oursMedian" "$theirsMedian" "$baselineMedian"
awk -v a="$oursMedian" -v b="$theirsMedian" \
    'BEGIN { printf "reference / ours: %.1fx (ratio of the medians)\n", b / a }'
if [ -n "$baseline" ]; then
    awk -v a="$oursMedian" -v b="$theirsMedian" -v c="$baselineMedian" 'BEGIN {
        printf "reference / baseline: %.1fx; baseline / ours: %.2fx\n", b / c, c / a }'
fi
