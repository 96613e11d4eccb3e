#!/usr/bin/env bash
# The voice report's accuracy against generated vowels with known truth.
#
#   bench/voice/run.sh [BUILD_DIR] [OUT_DIR]
#       BUILD_DIR: a build with phonaxis-gen and phonaxis_voice_run (default build/release)
#       OUT_DIR:   where the signals and results go (default BUILD_DIR/bench-voice)
#       SEEDS:     the noise seeds of each cell (environment; default "1 2 3")
#
# For every rate (16,000, 22,050, 44,100 Hz) × jitter (0.2, 1, 3 %) × shimmer
# (1, 3, 10 %) × HNR (5, 15, 30 dB) × seed, phonaxis-gen voice writes a 2 s vowel
# (channel 1 audio, channel 2 EGG) and its truth; phonaxis_voice_run gives our
# report from the audio and from the EGG over the truth's range (the middle
# 1.5 s); voice_report.praat gives the reference tool's (75–600 Hz) over the
# same range; cpps.py computes the CPPS from its published definition. The
# rows go to OUT_DIR/results.tsv and summary.py prints the error table.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build/release}" && pwd)
out=${2:-$build/bench-voice}
mkdir -p "$out"
out=$(cd "$out" && pwd)
gen=$build/tools/phonaxis-gen
ours=$build/bench/phonaxis_voice_run
for program in "$gen" "$ours"; do
    [ -x "$program" ] || { echo "missing $program: build it first" >&2; exit 1; }
done
command -v praat >/dev/null || { echo "praat is not installed" >&2; exit 1; }

results=$out/results.tsv
: > "$results"
header_done=0
for rate in 16000 22050 44100; do
    for jitter in 0.2 1 3; do
        for shimmer in 1 3 10; do
            for hnr in 5 15 30; do
                for seed in ${SEEDS:-1 2 3}; do
                    name=voice-$rate-j$jitter-s$shimmer-h$hnr-seed$seed
                    wav=$out/$name.wav
                    args=(--rate "$rate" --jitter "$jitter" --shimmer "$shimmer" --hnr "$hnr" --seed "$seed")
                    "$gen" voice "$wav" "${args[@]}"
                    from=$(awk '$1 == "from_ms" {print $2}' "$wav.truth.tsv")
                    to=$(awk '$1 == "to_ms" {print $2}' "$wav.truth.tsv")
                    table=$("$ours" "${args[@]}")
                    if [ $header_done = 0 ]; then
                        printf 'signal\trate\tjitter\tshimmer\thnr\t%s\tcpps_reference_db\n' \
                            "$(head -1 <<<"$table")" >> "$results"
                        header_done=1
                    fi
                    reference=$(/usr/bin/python3 "$here/cpps.py" "$wav" "$from" "$to" 75 600)
                    praat=$(praat --run "$here/voice_report.praat" "$wav" \
                        "$(awk "BEGIN {print $from / 1000}")" "$(awk "BEGIN {print $to / 1000}")")
                    { tail -n +2 <<<"$table"; echo "$praat"; } | while IFS= read -r row; do
                        printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$rate" "$jitter" "$shimmer" \
                            "$hnr" "$row" "$reference" >> "$results"
                    done
                done
            done
        done
    done
done
/usr/bin/python3 "$here/summary.py" "$results"
