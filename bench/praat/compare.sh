#!/usr/bin/env bash
# Times our analyses against the reference tool's corresponding commands on
# the same recordings and machine, and prints one table (seconds, wall time).
#
#   bench/praat/compare.sh [BUILD_DIR]        (default: build/bench, a Release
#                                              build with the benchmarks on)
#
# Writes the benchmark recordings as WAV (phonaxis-gen bench-recordings), runs
# phonaxis_bench_analysis on the same samples, then each .praat script beside
# this file with the reference tool's default arguments. Without `praat` on
# the PATH (Debian package praat; never part of the build) the reference
# column is skipped with a message. Shorter recordings for a quick look:
#   PHONAXIS_BENCH_SPEECH_MIN=2 PHONAXIS_BENCH_EGG_MIN=1 bench/praat/compare.sh
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build/bench}
gen=$build/tools/phonaxis-gen
bench=$build/bench/phonaxis_bench_analysis
for program in "$gen" "$bench"; do
    if [ ! -x "$program" ]; then
        echo "compare.sh: $program is missing; build the targets phonaxis-gen and" \
             "phonaxis_bench_analysis in $build first" >&2
        exit 2
    fi
done

export PHONAXIS_BENCH_SPEECH_MIN=${PHONAXIS_BENCH_SPEECH_MIN:-60}
export PHONAXIS_BENCH_EGG_MIN=${PHONAXIS_BENCH_EGG_MIN:-10}
work=${PHONAXIS_BENCH_DIR:-$build/bench-recordings}
"$gen" bench-recordings "$work" --speech-min "$PHONAXIS_BENCH_SPEECH_MIN" \
    --egg-min "$PHONAXIS_BENCH_EGG_MIN"
echo "recordings: $work/speech.wav ($PHONAXIS_BENCH_SPEECH_MIN min, 44,100 Hz)," \
     "$work/egg.wav ($PHONAXIS_BENCH_EGG_MIN min, 22,050 Hz); load: $(cut -d' ' -f1-3 /proc/loadavg)"

"$bench" --benchmark_filter='^(Pitch/|Intensity|Spectrogram|Egg)' \
    --benchmark_out="$work/ours.json" --benchmark_out_format=json

# Seconds of one of our benchmarks from the JSON report ($2: real_time, the
# default, or cpu_time, the processor time of the calling thread), or "-".
# Each run's name comes before its times and their unit.
ours() {
    awk -v name="$1" -v field="${2:-real_time}" '
        function value(line) { sub(/^[^:]*: */, "", line); gsub(/[",]/, "", line); return line }
        /"name":/ { current = value($0) }
        current == name && $0 ~ "\"" field "\":" { seconds = value($0) }
        current == name && /"time_unit":/ {
            unit = value($0)
            scale = unit == "ns" ? 1e-9 : unit == "us" ? 1e-6 : unit == "ms" ? 1e-3 : 1
            printf "%.2f", seconds * scale; found = 1; current = ""
        }
        END { if (!found) printf "-" }' "$work/ours.json"
}

# The reference tool's seconds per command: wall time of the command alone
# (the script's stopwatch) and processor time of the whole process less that
# of a process that only reads the file.
declare -A wall cpu
processorSeconds() { # script → "user+system seconds" of one praat process
    local TIMEFORMAT='%U %S'
    { time praat --run "$here/$1.praat" "$work/speech.wav" > "$work/$1.out"; } 2>&1 |
        awk '{ printf "%.2f", $1 + $2 }'
}
if command -v praat >/dev/null 2>&1; then
    baseline=$(processorSeconds read_only)
    for script in pitch_cc intensity spectrogram formant_burg; do
        echo "praat: $script on $work/speech.wav ..." >&2
        total=$(processorSeconds "$script")
        wall[$script]=$(tail -n 1 "$work/$script.out" | awk -F'\t' '{ printf "%.2f", $2 }')
        cpu[$script]=$(awk -v a="$total" -v b="$baseline" 'BEGIN { printf "%.2f", a - b }')
    done
    sum() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a + b }'; }
    wall[spectrogram_formant]=$(sum "${wall[spectrogram]}" "${wall[formant_burg]}")
    cpu[spectrogram_formant]=$(sum "${cpu[spectrogram]}" "${cpu[formant_burg]}")
else
    echo "compare.sh: praat is not installed (apt-get install praat): reference timings skipped" >&2
fi

format='%-24s %9s %9s %9s   %-35s %9s %9s\n'
row() { # task, ours 1 thread (wall, cpu), ours 2 threads, reference command, its key
    printf "$format" "$1" "$2" "$3" "$4" "$5" "${wall[$6]:--}" "${cpu[$6]:--}"
}
echo
echo "seconds; wall = elapsed, cpu = processor time of the computing thread (ours, 1 thread)"
echo "or of the reference process less reading the file (theirs): compare cpu on a busy machine"
printf "$format" "task" "1 thr wall" "1 thr cpu" "2 thr wall" "reference command" "wall" "cpu"
row "pitch track" "$(ours Pitch/threads:1/real_time)" "$(ours Pitch/threads:1/real_time cpu_time)" \
    "$(ours Pitch/threads:2/real_time)" "To Pitch (cc)" pitch_cc
row "intensity track" "$(ours Intensity/real_time)" "$(ours Intensity/real_time cpu_time)" "-" \
    "To Intensity" intensity
row "spectrogram + formants" "$(ours Spectrogram/threads:1/real_time)" \
    "$(ours Spectrogram/threads:1/real_time cpu_time)" "$(ours Spectrogram/threads:2/real_time)" \
    "To Spectrogram + To Formant (burg)" spectrogram_formant
row "  spectrogram alone" "" "" "" "To Spectrogram" spectrogram
row "  formants alone" "" "" "" "To Formant (burg)" formant_burg
row "EGG analysis" "$(ours Egg/real_time)" "$(ours Egg/real_time cpu_time)" "-" \
    "(no corresponding command)" none
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
