#!/bin/sh
# Not a test: which LZX match offsets near the window each extractor reads
# right. Writes cabinets whose matches reach exactly window - n bytes back
# (n = 16 .. 3) for each window given, extracts each with the extractors
# named in EXTRACTORS (default: 7zz) and prints a table: ok, WRONG (exit 0,
# bytes differ) or FAILED (refused). The encoder keeps kLzxOffsetReserve
# bytes below the window (cab32/codec/Lzx.h) because of what this shows.
#   tools/lzx-offset-probe.sh [window bits ...]      (default: 15 16 17 21)
#   EXTRACTORS="7zz cabextract bsdtar gcab" tools/lzx-offset-probe.sh 15 16
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
cmake --preset host >/dev/null
cmake --build --preset host --target lzx_offset_probe >/dev/null
WORK="$ROOT/build/lzx-offset-probe"
rm -rf "$WORK"
mkdir -p "$WORK"
WINDOWS=${*:-15 16 17 21}
build/host/tools/lzx_offset_probe "$WORK" $WINDOWS > "$WORK/probe.log" || { cat "$WORK/probe.log"; exit 1; }

# Extracts cabinet $2 with extractor $1 into folder $3.
extract() {
    case $1 in
        7zz) (cd "$3" && 7zz x -y "$2") ;;
        cabextract) cabextract -q -d "$3" "$2" ;;
        bsdtar) (cd "$3" && bsdtar -xf "$2") ;;
        gcab) gcab -x -C "$3" "$2" ;;
    esac >/dev/null 2>&1 </dev/null
}

for x in ${EXTRACTORS:-7zz}; do
    printf '\n%s\n| offset |' "$x"
    for w in $WINDOWS; do printf ' 2^%s |' "$w"; done
    printf '\n|---|'
    for w in $WINDOWS; do printf -- '---|'; done
    printf '\n'
    for n in 16 15 14 13 12 11 10 09 08 07 06 05 04 03; do
        printf '| window - %d |' "${n#0}"
        for w in $WINDOWS; do
            out="$WORK/x-$x-w$w-$n"
            mkdir -p "$out"
            if ! extract "$x" "$WORK/w$w-less$n.cab" "$out"; then
                result=FAILED
            elif cmp -s "$out/f.bin" "$WORK/w$w-less$n.bin"; then
                result=ok
            else
                result="WRONG ($(cmp -l "$out/f.bin" "$WORK/w$w-less$n.bin" 2>/dev/null | wc -l) bytes)"
            fi
            printf ' %s |' "$result"
            rm -rf "$out"
        done
        printf '\n'
    done
done
