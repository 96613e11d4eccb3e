#!/bin/bash
# Installs the build into a fresh prefix and checks what a user of the
# installed programs relies on: the programs, their data and the desktop's
# files where they belong, the installed programs finding their data, and
# the desktop files valid for the tools that read them.
#   check-install.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1
work=$2
prefix="$work/prefix"
rm -rf "$work"
mkdir -p "$work"
ulimit -f 409600 # 200 MB: the install is a few MB

cmake --install "$build" --prefix "$prefix" > "$work/install.log"

fail=0
expect() {
    if [ ! -s "$prefix/$1" ]; then
        echo "missing or empty: $1"
        fail=1
    fi
}
expect bin/phonaxis-cli
expect share/phonaxis/70-phonaxis-boxes.rules
expect share/phonaxis/firmware.hex
expect share/phonaxis/phonaxis-demo.wav
expect share/applications/phonaxis.desktop
expect share/icons/hicolor/scalable/apps/phonaxis.svg
expect share/mime/packages/phonaxis.xml
expect share/metainfo/org.phonaxis.Phonaxis.metainfo.xml
expect share/man/man1/phonaxis-cli.1.gz
expect share/doc/phonaxis/copyright
expect share/doc/phonaxis/changelog.gz
expect share/bash-completion/completions/phonaxis-cli
pages=("$prefix/share/man/man1/phonaxis-cli.1.gz")
if [ -e "$build/src/phonaxis" ]; then
    expect bin/phonaxis
    expect share/man/man1/phonaxis.1.gz
    for size in 16 22 24 32 48 64 128 256; do
        expect "share/icons/hicolor/${size}x${size}/apps/phonaxis.png"
    done
    pages+=("$prefix/share/man/man1/phonaxis.1.gz")
    # The screenshots the AppStream description names, each a PNG of the
    # size it states.
    for shot in main spectrogram; do
        file="share/phonaxis/screenshots/phonaxis-$shot.png"
        expect "$file"
        grep -q "phonaxis-$shot.png" "$prefix/share/metainfo/org.phonaxis.Phonaxis.metainfo.xml" \
            || { echo "the AppStream description does not name $file"; fail=1; }
        if command -v file > /dev/null; then
            file "$prefix/$file" | grep -q "PNG image data, 1280 x 720" \
                || { echo "$file is not a 1280 x 720 PNG"; fail=1; }
        fi
    done
    "$prefix/bin/phonaxis" --version | grep -q '^phonaxis ' || { echo "phonaxis --version"; fail=1; }
fi

"$prefix/bin/phonaxis-cli" --version | grep -q '^phonaxis-cli ' || { echo "phonaxis-cli --version"; fail=1; }
"$prefix/bin/phonaxis-cli" info "$prefix/share/phonaxis/phonaxis-demo.wav" | grep -q '"channelCount": 3' \
    || { echo "phonaxis-cli info of the installed demo"; fail=1; }
# The installed simulator finds the installed firmware image.
PHONAXIS_FIRMWARE= "$prefix/bin/phonaxis-cli" box --simulate-box=2 > "$work/box.log" 2>&1 \
    || { echo "phonaxis-cli box with the installed firmware:"; cat "$work/box.log"; fail=1; }
# The Python module, where Debian's Python finds it below the prefix: it
# imports from there and measures the installed demo.
if compgen -G "$build/python/phonaxis/_core*.so" > /dev/null; then
    site=lib/python3/dist-packages/phonaxis
    expect $site/__init__.py
    expect $site/corpus.py
    expect $site/_core.pyi
    compgen -G "$prefix/$site/_core*.so" > /dev/null || { echo "missing: $site/_core*.so"; fail=1; }
    [ -e "$prefix/$site/py.typed" ] || { echo "missing: $site/py.typed"; fail=1; }
    (cd "$work" && PYTHONDONTWRITEBYTECODE=1 PYTHONPATH="$prefix/lib/python3/dist-packages" \
        /usr/bin/python3 -c '
import sys, phonaxis
assert phonaxis.__file__.startswith(sys.argv[1]), phonaxis.__file__
table = phonaxis.open(sys.argv[2]).pitch()
assert len(table) > 0 and table["f0_hz"].notna().any()
' "$prefix" "$prefix/share/phonaxis/phonaxis-demo.wav") \
        || { echo "the installed Python module"; fail=1; }
fi

if command -v xmllint > /dev/null; then
    xmllint --noout "$prefix/share/mime/packages/phonaxis.xml" \
        "$prefix/share/metainfo/org.phonaxis.Phonaxis.metainfo.xml" \
        "$prefix/share/icons/hicolor/scalable/apps/phonaxis.svg" || fail=1
fi
if command -v appstreamcli > /dev/null; then
    appstreamcli validate --no-net "$prefix/share/metainfo/org.phonaxis.Phonaxis.metainfo.xml" \
        > "$work/appstream.log" 2>&1 || { cat "$work/appstream.log"; fail=1; }
fi
if command -v groff > /dev/null; then
    for page in "${pages[@]}"; do
        warnings=$(gzip -dc "$page" | groff -ww -man -z 2>&1)
        if [ -n "$warnings" ]; then
            echo "groff on $page: $warnings"
            fail=1
        fi
    done
fi
if command -v desktop-file-validate > /dev/null; then
    desktop-file-validate "$prefix/share/applications/phonaxis.desktop" || fail=1
fi

rm -rf "$work"
exit $fail
