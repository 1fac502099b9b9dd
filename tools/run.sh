#!/bin/sh
# `make run`: installs what is missing, builds, and starts the program on the
# user's display. Without a display it runs the scripted demonstration instead.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
./tools/build.sh
if [ -n "$DISPLAY" ] && [ -z "$KV_DEMO" ]; then
    exec ./tools/wine-run build/windows/bin/Kestelvarnholm.exe
fi
exec ./tools/demo.sh
