#!/bin/sh
# Prints CAB32.dll's peak memory for 20,000 files against one file, and the
# time and ratio for the big run. Needs a built tree and a Wine prefix:
#   sh tests/cab32/bench_memory.sh [work folder]
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WORK=${1:-$ROOT/build/cab32-bench}
rm -rf "$WORK"; mkdir -p "$WORK/tree" "$WORK/out"
python3 - "$WORK" <<'PY'
import os, random, sys
work = sys.argv[1]; rng = random.Random(7)
with open(os.path.join(work, "many.rsp"), "w", newline="") as r:
    for i in range(20000):
        name = "d%03d/file_%05d_%s.txt" % (i // 200, i, "x" * (i % 40))
        os.makedirs(os.path.join(work, "tree", os.path.dirname(name)), exist_ok=True)
        with open(os.path.join(work, "tree", name), "wb") as f:
            f.write(b"".join(b"%d %s\n" % (i, rng.choice([b"alpha", b"beta", b"gamma"])) for _ in range(rng.randint(1, 400))))
        r.write('"%s"\r\n' % name.replace("/", "\\"))
with open(os.path.join(work, "one.rsp"), "w", newline="") as r:
    r.write('"d000\\file_00000_.txt"\r\n')
PY
W=$(printf 'Z:%s' "$WORK" | tr / '\\')
for run in one many; do
    printf '%s' "-a \"$W\\out\\$run.cab\" \"$W\\tree\\\" \"@$W\\$run.rsp\"" > "$WORK/$run.cmd"
    start=$(date +%s.%N)
    "$ROOT/tools/wine-run" "$ROOT/build/windows/bin/cab32_drive.exe" --mem "$W\\$run.cmd" > "$WORK/$run.out" 2>&1 </dev/null
    end=$(date +%s.%N)
    echo "$run: $(tr -d '\r' < "$WORK/$run.out" | grep -E '^rc=|peak' | tr '\n' ' ') $(echo "$end - $start" | bc) s"
done
echo "input $(du -sb "$WORK/tree" | cut -f1) bytes, cabinet $(stat -c %s "$WORK/out/many.cab") bytes"
