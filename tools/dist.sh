#!/bin/sh
# `make dist`: builds the program and packs build/dist/Kestelvarnholm-<version>.zip.
set -e
cd "$(dirname "$0")/.."
./tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
python3 tools/dist.py
