#!/bin/sh
# Installs what is missing, builds the Windows program and creates the private
# Wine prefix: the common first steps of `make run` and `make test`.
set -e
cd "$(dirname "$0")/.."
./tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
./tools/wine-prefix.sh
