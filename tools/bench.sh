#!/bin/sh
# `make bench`: CAB32.dll (under Wine) against gcab -c -z on the same trees in
# the same run, gzip -6 on one core as the machine's reference, and the
# archiver's peak memory for 20,000 and 200,000 files. Not a test: it prints.
#   tools/bench.sh [runs]   (default 3 runs per side, median reported)
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
./tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 >/dev/null
./tools/wine-prefix.sh
export WINEPREFIX="$ROOT/build/wineprefix" WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
wineserver -p 2>/dev/null || true
wine cmd /c exit >/dev/null 2>&1 </dev/null
trap 'wineserver -k 2>/dev/null || true' EXIT
python3 "$ROOT/tools/bench/bench.py" "$ROOT" "$ROOT/build/bench" "${1:-3}"
