#!/bin/sh
# The scripted demonstration: under a virtual display, backs this repository's
# source tree up through the real program and its dialogs into a cabinet under
# build/demo/, verifies the cabinet, and keeps a picture of the main dialog.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
DEMO="$ROOT/build/demo"
rm -rf "$DEMO"
mkdir -p "$DEMO/program"
cp build/windows/bin/Kestelvarnholm.exe build/windows/bin/CAB32.dll "$DEMO/program/"

export WINEPREFIX="$ROOT/build/wineprefix" WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
winpath() { echo "Z:$1" | sed 's|/|\\|g'; }
PROGRAM=$(winpath "$DEMO/program")
SOURCE=$(winpath "$ROOT")
CABINET=$(winpath "$DEMO/Kestelvarnholm-source.cab")
PICTURE=$(winpath "$DEMO/main-dialog.bmp")

echo "No display: playing the demonstration under a virtual display."
set +e
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1 </dev/null
    ./tools/wine-run build/windows/bin/demo_driver.exe "$0" "$1" "$2" "$3" >"$4/driver.log" 2>&1
    rc=$?
    wineserver -k
    exit $rc' "$PROGRAM" "$SOURCE" "$CABINET" "$PICTURE" "$DEMO"
rc=$?
set -e
grep "^demo:" "$DEMO/driver.log" || cat "$DEMO/driver.log"
[ $rc = 0 ] || { echo "The demonstration failed."; exit 1; }

convert "$DEMO/main-dialog.bmp" "$DEMO/main-dialog.png" && rm -f "$DEMO/main-dialog.bmp"
cabextract -t -q "$DEMO/Kestelvarnholm-source.cab" >/dev/null
files=$(cabextract -l "$DEMO/Kestelvarnholm-source.cab" | grep -c '|')
echo "Cabinet:    $DEMO/Kestelvarnholm-source.cab ($files files, verified with cabextract -t)"
echo "Screenshot: $DEMO/main-dialog.png"
echo "Projects:   $DEMO/program/project.dat"
