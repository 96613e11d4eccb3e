#!/usr/bin/env bash
# Makes the TextGrid files written by Praat that the document tests read
# (tests/document/textgrid/ unless a folder is given).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/../../tests/document/textgrid}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
timeout 60 praat --run "$here/make-textgrids.praat" "$out"
