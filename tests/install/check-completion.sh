#!/bin/bash
# The bash completion of phonaxis-cli against the program itself: every
# command it offers is one phonaxis-cli has, every option a command's help
# names is offered for that command, and files are offered by extension.
#   check-completion.sh COMPLETION PHONAXIS_CLI WORK_DIR
set -uo pipefail
completion=$1
cli=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
ulimit -f 1024
# The completion calls phonaxis-cli by name for the settings' names.
mkdir -p "$work/bin"
ln -s "$cli" "$work/bin/phonaxis-cli"
export PATH="$work/bin:$PATH"
# shellcheck source=/dev/null
source "$completion"

# The completions of a command line whose last word is being typed.
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _phonaxis_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

fail=0
commands=$("$cli" --help | sed -n 's/^  phonaxis-cli \([a-z-]*\) .*/\1/p' | sort -u)
offered=$(complete_words phonaxis-cli "" | grep -v '^--')
if [ "$commands" != "$offered" ]; then
    echo "commands offered differ from phonaxis-cli's:"
    diff <(echo "$commands") <(echo "$offered")
    fail=1
fi

for command in $commands; do
    # The options of the command's own help, before the notes every help ends with.
    named=$("$cli" "$command" --help | sed '/^Channels are counted/,$d' |
        grep -o -- '--[a-z][a-z0-9-]*' | sort -u)
    options=$(complete_words phonaxis-cli "$command" -- | sed 's/=$//')
    for option in $named; do
        if ! grep -qx -- "$option" <<< "$options"; then
            echo "$command: $option is not offered"
            fail=1
        fi
    done
done

mkdir -p "$work/files/dir"
cd "$work/files" || exit 1
touch take.wav take.PMF chart.png table.txt image.hex
check() {
    local expected=$1
    shift
    local got
    got=$(complete_words "$@" | tr '\n' ' ')
    if [ "$got" != "$expected" ]; then
        echo "completing '$*': got '$got', expected '$expected'"
        fail=1
    fi
}
check "dir take.PMF take.wav " phonaxis-cli pitch ""
check "chart.png dir " phonaxis-cli pitch take.wav --png ""
check "dir table.txt " phonaxis-cli formants ""
check "dir image.hex " phonaxis-cli box --firmware ""
check "spectrogram spectrum " phonaxis-cli spe
check "--classic " phonaxis-cli pitch --cl

rm -rf "$work"
exit $fail
