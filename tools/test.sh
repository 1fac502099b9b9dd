#!/bin/sh
# `make test`: installs what is missing, builds, and runs every test under Wine
# (code page 932, private prefix, one persistent wineserver, a virtual display);
# the end-to-end and dialog tests run again under C.UTF-8 (code page 1252).
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

./tools/build.sh

# Every C++ file in the one style of .clang-format.
./tools/format-check.sh

# The code that needs no Windows, built on the host under the sanitizers.
cmake --preset host >/dev/null
cmake --build --preset host
# The archiver's tests again under ThreadSanitizer (its threads share files and block slots).
cmake --preset host-tsan >/dev/null
cmake --build --preset host-tsan

export WINEPREFIX="$ROOT/build/wineprefix"

# One wineserver for the whole run; stopped however the run ends, with Xvfb
# (xvfb-run ends it when its command returns).
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
    export WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
    wineserver -p
    # Start Wine'"'"'s background services now, with their output going nowhere:
    # started by a test instead, they would hold ctest'"'"'s output pipe open.
    wine cmd /c exit >/dev/null 2>&1 </dev/null
    trap "wineserver -k 2>/dev/null" EXIT
    rc=0
    ctest --preset host -j3 || rc=1
    ctest --preset host-tsan || rc=1
    ctest --preset windows || rc=1
    wineserver -k 2>/dev/null || true
    exit $rc
'
