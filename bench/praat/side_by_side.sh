#!/usr/bin/env bash
# Times every analysis a user runs from phonaxis-cli against the reference
# tool's corresponding command, whole commands as a user runs them (reading
# the file included, our rows written to a file), the two tools taking turns
# on the same file so that both see the same machine load. Prints every
# pair's medians, their ratio (reference ÷ ours: above 1 is faster) and the
# peak resident memory of each, with the load average before and after.
#
#   bench/praat/side_by_side.sh [BUILD_DIR] [ROUNDS] [LENGTHS]
#       BUILD_DIR: a Release build (default build/release)
#       ROUNDS:    turns of each tool per pair (default 3)
#       LENGTHS:   the recordings' lengths in minutes (default "1 5 60")
#
# The recordings are the analysis benchmarks' speech (phonaxis-gen
# bench-recordings: voiced and unvoiced stretches, pauses, noise) at
# 44,100 Hz, stored as 16-bit mono WAV files in PHONAXIS_BENCH_DIR (default
# BUILD_DIR/bench-recordings), made once with sox. Needs praat and sox
# (Debian packages praat and sox; never part of the build) and GNU time.
# PHONAXIS_BENCH_ONLY may name the rows to run (a regular expression);
# PHONAXIS_BENCH_LOAD=N keeps N busy processes running beside both tools
# throughout, for their figures on a loaded machine.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build/release}" && pwd)
rounds=${2:-3}
lengths=${3:-"1 5 60"}
cli=$build/src/phonaxis-cli
gen=$build/tools/phonaxis-gen
for program in "$cli" "$gen"; do
    [ -x "$program" ] || { echo "side_by_side.sh: $program is missing; build it first" >&2; exit 2; }
done
for tool in praat sox /usr/bin/time; do
    command -v "$tool" >/dev/null 2>&1 ||
        { echo "side_by_side.sh: $tool is not installed (apt-get install praat sox time)" >&2; exit 2; }
done
work=$(mkdir -p "${PHONAXIS_BENCH_DIR:-$build/bench-recordings}" && cd "${PHONAXIS_BENCH_DIR:-$build/bench-recordings}" && pwd)
only=${PHONAXIS_BENCH_ONLY:-.}

# 16-bit mono recordings of each length, cut from one 60-minute recording.
longest=$(printf '%s\n' $lengths | sort -n | tail -n 1)
for minutes in $lengths; do
    file=$work/speech-$minutes-min.wav
    expected=$((minutes * 60 * 44100 * 2 + 44))
    if [ ! -f "$file" ] || [ "$(stat -c %s "$file")" != "$expected" ]; then
        if [ ! -f "$work/speech.wav" ] ||
           [ "$(stat -c %s "$work/speech.wav")" -lt $((longest * 60 * 44100 * 4)) ]; then
            "$gen" bench-recordings "$work" --speech-min "$longest" --egg-min 0.1 >/dev/null
        fi
        sox "$work/speech.wav" -b 16 "$file" trim 0 $((minutes * 60))
    fi
done
out=$(mktemp -d)
busy=()
stopBusy() { [ ${#busy[@]} -eq 0 ] || kill "${busy[@]}" 2>/dev/null || true; }
trap 'stopBusy; rm -rf "$out"' EXIT
for _ in $(seq "${PHONAXIS_BENCH_LOAD:-0}"); do
    sh -c 'while :; do :; done' &
    busy+=($!)
done
[ ${#busy[@]} -eq 0 ] || sleep 5 # lets the load average show them

# "seconds KB" of one run, its output to a file; the run must succeed. The
# seconds come from the shell's microsecond clock (GNU time's own are in
# hundredths), the peak resident memory from GNU time.
measure() {
    local start=$EPOCHREALTIME
    /usr/bin/time -f '%M' -o "$out/time" "$@" > "$out/rows" 2> "$out/err" ||
        { echo "side_by_side.sh: failed: $*" >&2; cat "$out/err" >&2; exit 1; }
    local end=$EPOCHREALTIME
    awk -v a="$start" -v b="$end" -v kb="$(cat "$out/time")" 'BEGIN { printf "%.3f %d\n", b - a, kb }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; rounds: $rounds;" \
     "busy processes beside: ${#busy[@]}"
format='%-44s %-34s %8s %8s %7s %8s %8s\n'
printf "$format" "ours (phonaxis-cli ...)" "reference (praat)" "ours s" "ref s" "ratio" "ours MB" "ref MB"
# pair NAME MINUTES PRAAT_WHAT -- OUR ARGS (FILE stands for the recording)
pair() {
    local name=$1 minutes=$2 what=$3
    shift 4
    [[ "$name ($minutes min)" =~ $only ]] || return 0
    local file=$work/speech-$minutes-min.wav
    local args=("${@/#FILE/$file}")
    args=("${args[@]/#PNG/$out/ours.png}")
    local ours=() theirs=() oursKb=0 theirsKb=0 t
    for _ in $(seq "$rounds"); do
        read -r seconds kb < <(measure "$cli" "${args[@]}")
        ours+=("$seconds"); oursKb=$((kb > oursKb ? kb : oursKb))
        read -r seconds kb < <(measure praat --run "$here/whole_command.praat" "$what" "$file" "$out/theirs.png")
        theirs+=("$seconds"); theirsKb=$((kb > theirsKb ? kb : theirsKb))
    done
    local o r
    o=$(printf '%s\n' "${ours[@]}" | median)
    r=$(printf '%s\n' "${theirs[@]}" | median)
    printf "$format" "$name ($minutes min)" "$what" "$o" "$r" \
        "$(awk -v a="$r" -v b="$o" 'BEGIN { printf "%.1fx", (b > 0) ? a / b : 0 }')" \
        "$((oursKb / 1024))" "$((theirsKb / 1024))"
}

for minutes in $lengths; do
    pair "info" "$minutes" read -- info FILE
    pair "pitch --table" "$minutes" pitch_ac -- pitch FILE --table
    pair "pitch --classic --table" "$minutes" pitch_cc -- pitch FILE --classic --table
    pair "pitch --classic --table" "$minutes" pitch_ac -- pitch FILE --classic --table
    pair "pitch --table (with intensity)" "$minutes" pitch_intensity -- pitch FILE --table
    pair "formant-track --table" "$minutes" formant -- formant-track FILE --table
    pair "formant-track --classic --table" "$minutes" formant -- formant-track FILE --classic --table
    pair "spectrogram --png 1600x900" "$minutes" spectrogram -- spectrogram FILE --png PNG --width 1600 --height 900
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# A stretch of 100 ms in the middle of the longest recording, ours alone.
file=$work/speech-$longest-min.wav
middle=$((longest * 30000))
for args in "pitch $file --from $middle --to $((middle + 100)) --table" \
            "formant-track $file --from $middle --to $((middle + 100)) --table" \
            "spectrum $file --from $middle --to $((middle + 100)) --table" \
            "spectrogram $file --from $middle --to $((middle + 100)) --table"; do
    [[ "stretch" =~ $only || "$args" =~ $only ]] || continue
    # shellcheck disable=SC2086
    read -r seconds kb < <(measure "$cli" $args)
    printf '100 ms of %s min, %-40s %6s s %6s MB\n' "$longest" "${args%% *}" "$seconds" "$((kb / 1024))"
done
