#!/bin/sh
# Round trip: CAB32.dll (through cab32_drive under Wine) writes cabinets and sets from fixed trees;
# independent extractors must give back every file, byte for byte and under its name.
#   roundtrip.sh <source root> <bin folder> <work folder>
set -u
ROOT=$1 BIN=$2 WORK=$3
WINE="$ROOT/tools/wine-run"
export TZ=UTC LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
failures=0

fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
winpath() { printf 'Z:%s\n' "$1" | tr / '\\'; }

# Archives tree $2 with response file $1.rsp into out/$1.cab (options $3, driver options after) and checks rc=0.
archive() { # name tree [-vN] [driver options...]
    name=$1 tree=$(winpath "$WORK/$2") v=${3:-}; shift 2; [ $# -gt 0 ] && shift
    printf '%s' "$v -a \"$(winpath "$WORK/out/$name.cab")\" \"$tree\\\" \"@$(winpath "$WORK/${name%[0-9]}.rsp")\"" |
        iconv -f UTF-8 -t CP932 > "$WORK/$name.cmd"
    "$WINE" "$BIN/cab32_drive.exe" "$@" "$(winpath "$WORK/$name.cmd")" > "$WORK/$name.out" 2>&1 </dev/null
    tr -d '\r' < "$WORK/$name.out" | grep -q '^rc=0$' || fail "$name: $(iconv -f CP932 -t UTF-8 "$WORK/$name.out" | head -n 2 | tr '\n' ' ')"
}

# The cabinets of the set that starts with $1, in order: x.cab, x_2.cab, x_3.cab...
members() { ls "$1" "${1%.cab}"_*.cab 2>/dev/null | sort -V; }

# Extracts cabinet (or set) out/$2.cab with extractor $1 and compares it with listing $3 of tree $4.
check() { # extractor cabinet listing tree
    cab="$WORK/out/$2.cab" out="$WORK/x-$1-$2"
    rm -rf "$out"; mkdir -p "$out"
    case $1 in
        cabextract) cabextract -q -d "$out" "$cab" ;;
        cabextract932) cabextract -q -e CP932 -d "$out" "$cab" ;;
        gcab) gcab -x -C "$out" "$cab" ;;
        7zz) (cd "$out" && 7zz x -y "$cab") ;;
        # bsdtar reads one cabinet at a time: each member of a set in turn. It warns that it
        # does not join sets (and exits with 1) but extracts every file of the member.
        bsdtar) (cd "$out" && for c in $(members "$cab"); do bsdtar -xf "$c"; done) ;;
        bsdtar932) (cd "$out" && bsdtar --options hdrcharset=CP932 -xf "$cab") ;;
        # Wine's cabarc leaves files continued from a previous cabinet to that one: each member in turn.
        cabarc) (cd "$out" && for c in $(members "$cab"); do "$WINE" cabarc -p X "$(winpath "$c")" || exit 1; done) ;;
        extrac32) "$WINE" extrac32 /Y /E /L "$(winpath "$out")" "$(winpath "$cab")" ;;
    esac > "$out.log" 2>&1 </dev/null
    grep -v -e "Multivolume cabinet file is unsupported" -e "Error exit delayed" "$out.log" | grep -q "^bsdtar" &&
        fail "$1 on $2: $(head -n 2 "$out.log" | tr '\n' ' ')"
    python3 "$ROOT/tests/cab32/trees.py" compare "$WORK/$4" "$out" "$WORK/$3.rsp.list" > "$out.diff" 2>&1 ||
        fail "$1 on $2: $(head -n 3 "$out.diff" | tr '\n' ' ')"
}

rm -rf "$WORK"
mkdir -p "$WORK/out"
python3 "$ROOT/tests/cab32/trees.py" make "$WORK" || { echo "FAIL: cannot build the trees"; exit 1; }

archive ascii tree
archive full tree
archive empties tree
# MSZIP: one and two compressing threads, one and three reading threads, folders of at most
# 2,500,000 bytes: the same bytes, several folders.
archive ascii1 tree -mszip --readers 1 --threads 1 --folder-limit 2500000
archive ascii2 tree -mszip --readers 3 --threads 2 --folder-limit 2500000
grep -q "^folders=[2-9]" "$WORK/ascii1.out" || fail "the small folder limit gave one folder"
cmp -s "$WORK/out/ascii1.cab" "$WORK/out/ascii2.cab" || fail "one and two threads wrote different cabinets"
# LZX (the default): windows fitted to each folder, a window of 2^15 for all, folders of 300,000
# bytes on one and on two threads (the same bytes, so only the second is extracted), and a set.
archive lzx lzx
archive lzx1 lzx -mlzx15
archive lzx2 lzx -mlzx --readers 1 --threads 1 --lzx-folder 300000
archive lzx3 lzx -mlzx --readers 3 --threads 2 --lzx-folder 300000
archive lzx4 lzx -v7000000
# What once broke LZX, with the window that showed it: a frame unlike the rest of its block (the
# default) and a period of 2^15 - 3 (-mlzx15). Frames held to a low limit (linked-in core): every
# frame uncompressed (limit 1: the first frame after the E8 header, a 1-byte last frame with its pad
# byte), or a mix of blocks of four frames, frames coded alone and uncompressed ones (12,000).
archive stats hostile
archive period hostile -mlzx15
archive lzx5 lzx "" --threads 1 --lzx-frame-limit 1
archive lzx6 lzx "" --threads 2 --lzx-frame-limit 12000
# Every frame uncompressed, 257 of them, the last short: the one before it is two uncompressed blocks.
archive stored hostile "" --threads 1 --lzx-frame-limit 1
grep -q "^folders=[5-9]" "$WORK/lzx2.out" || fail "LZX folders of 300,000 bytes: $(grep folders= "$WORK/lzx2.out")"
cmp -s "$WORK/out/lzx2.cab" "$WORK/out/lzx3.cab" || fail "LZX: one and two threads wrote different cabinets"
[ "$(members "$WORK/out/lzx4.cab" | wc -l)" -ge 2 ] || fail "a 7,000,000-byte cabinet size did not make an LZX set"
for c in $(members "$WORK/out/lzx4.cab"); do
    [ "$(stat -c %s "$c")" -le 7000000 ] || fail "$(basename "$c") is over the cabinet size"
done
# The method of each folder, as 7-Zip names it.
methods() { 7zz l -slt "$WORK/out/$1.cab" 2>&1 | sed -n 's/^Method = //p' | sort -u | tr '\n' ' '; }
for c in ascii full lzx lzx4; do methods $c | grep -qv "MSZip" && methods $c | grep -q "^LZX:" || fail "$c is not LZX: $(methods $c)"; done
[ "$(methods lzx1)" = "LZX:15 " ] || fail "-mlzx15 gave $(methods lzx1)"
[ "$(methods ascii1)" = "MSZip " ] || fail "-mszip gave $(methods ascii1)"
# More files than one cabinet can list, and the tree split by a lowered cabinet size.
archive many many
# An LZX cabinet is planned with every frame at its largest (6,152 bytes over 32 KiB): the tree's largest
# file (2.3 MB) then needs a cabinet of 2.7 MB.
archive ascii3 tree -v3000000
[ "$(members "$WORK/out/many.cab" | wc -l)" -eq 2 ] || fail "70,000 files did not make a set of two"
[ "$(members "$WORK/out/ascii3.cab" | wc -l)" -ge 2 ] || fail "a 3,000,000-byte cabinet size did not make a set"
for c in $(members "$WORK/out/ascii3.cab"); do
    [ "$(stat -c %s "$c")" -le 3000000 ] || fail "$(basename "$c") is over the cabinet size"
done
grep -q "OVERRUN" "$WORK"/*.out && fail "output buffer overrun"
ls "$WORK/out" | grep -qi '\.tmp$' && fail "temporary file left"

# ASCII names with every extractor; double-byte names (code page 932) with those that can be told it.
for x in cabextract gcab 7zz bsdtar cabarc extrac32; do
    for c in ascii empties ascii1 ascii2; do check $x $c ${c%[0-9]} tree; done
    for c in lzx lzx1 lzx3 lzx5 lzx6; do check $x $c lzx lzx; done
    check $x stats stats hostile
    check $x period period hostile
    check $x stored stored hostile
done
for x in cabextract932 bsdtar932 cabarc extrac32; do check $x full full tree; done
for x in cabextract 7zz cabarc bsdtar; do
    check $x many many many; check $x ascii3 ascii tree; check $x lzx4 lzx lzx
done

# Attributes and dates, as 7-Zip lists them.
7zz l -slt "$WORK/out/ascii.cab" > "$WORK/ascii.slt" 2>&1
attr_of() { awk -v n="$1" '$0 == "Path = " n {f=1} f && /^Attributes = / {print $3; exit}' "$WORK/ascii.slt"; }
case $(attr_of readonly.txt) in *R*) ;; *) fail "readonly.txt lost its read-only attribute" ;; esac
case $(attr_of .hidden.txt) in *H*) ;; *) fail ".hidden.txt lost its hidden attribute" ;; esac
case $(attr_of text.txt) in *R*|*H*) fail "text.txt got attributes it does not have" ;; esac
grep "^Modified = " "$WORK/ascii.slt" | grep -qv "2001-02-03 04:05:06" && fail "dates not kept"

[ $failures -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "round trip passed"
