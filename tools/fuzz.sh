#!/bin/sh
# `make fuzz`: runs the fuzzers until interrupted (or FUZZ_SECONDS each, when
# set), one after another, each growing its own corpus under build/host/corpus.
# A crashing input is written to build/host/corpus/<fuzzer>-crash-*: copy it
# into tests/fuzz/seeds/<fuzzer>/ once fixed, so it stays a regression case.
set -e
trap "echo" INT
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
./tools/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
for f in fuzz_project_file fuzz_cab_command fuzz_cab_verifier fuzz_lzx_decoder fuzz_lzx_encoder; do
    mkdir -p "build/host/corpus/$f"
    echo "== $f (Ctrl-C moves on to the next)"
    build/host/host/$f -max_total_time="${FUZZ_SECONDS:-0}" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="build/host/corpus/$f-" "build/host/corpus/$f" "tests/fuzz/seeds/$f" || true
done
