#!/bin/sh
# Fails, naming each file and line, when a tracked C++ file differs from the
# style in .clang-format; `clang-format -i FILE` puts a file into that style.
set -e
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h')
[ -n "$files" ] || exit 0
# shellcheck disable=SC2086
clang-format --dry-run --Werror $files
