#!/bin/sh
# `make run`: installs what is missing, builds, and starts the program on the
# user's display. Without a display it runs the scripted demonstration instead.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
./tools/build.sh
if [ -n "$DISPLAY" ] && [ -z "$KV_DEMO" ]; then
    # The tests run Wine's windows unmanaged under Xvfb; on a desktop the window
    # manager looks after them again.
    ./tools/wine-run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d Y /f >/dev/null 2>&1 || true
    exec ./tools/wine-run build/windows/bin/Kestelvarnholm.exe
fi
exec ./tools/demo.sh
