#!/bin/sh
# Round trip: CAB32.dll (through cab32_drive under Wine) writes cabinets from a
# fixed tree; six independent extractors must give back every file, byte for
# byte and under its name. Then every failure path must leave no temporary
# file and an existing target untouched.
#   roundtrip.sh <source root> <bin folder> <work folder>
set -u
ROOT=$1
BIN=$2
WORK=$3
HERE=$ROOT/tests/cab32
WINE="$ROOT/tools/wine-run"
export TZ=UTC LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
failures=0

fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
winpath() { printf 'Z:%s\n' "$1" | tr / '\\'; }

# Writes a command line (in code page 932) and runs the archiver on it.
archive() { # name commandline [driver options...]
    name=$1; line=$2; shift 2
    printf '%s' "$line" | iconv -f UTF-8 -t CP932 > "$WORK/$name.cmd"
    "$WINE" "$BIN/cab32_drive.exe" "$@" "$(winpath "$WORK/$name.cmd")" > "$WORK/$name.out" 2>&1 </dev/null
    tr -d '\r' < "$WORK/$name.out" | sed -n 's/^rc=//p' | head -n 1
}

# The cabinets of the set that starts with $1, in order: x.cab, x_2.cab, x_3.cab...
members() {
    printf '%s\n' "$1"
    i=2
    while [ -f "${1%.cab}_$i.cab" ]; do printf '%s\n' "${1%.cab}_$i.cab"; i=$((i + 1)); done
}

# Extracts cabinet (or set) $2 with extractor $1 into a fresh folder and
# compares it with listing $3 of tree $4 (default: the main tree).
check() { # extractor cabinet listing [tree]
    out="$WORK/x-$1-$(basename "$2" .cab)"
    rm -rf "$out"; mkdir -p "$out"
    case $1 in
        cabextract) cabextract -q -d "$out" "$2" ;;
        cabextract932) cabextract -q -e CP932 -d "$out" "$2" ;;
        gcab) gcab -x -C "$out" "$2" ;;
        7zz) (cd "$out" && 7zz x -y "$2") ;;
        bsdtar) (cd "$out" && bsdtar -xf "$2") ;;
        bsdtar932) (cd "$out" && bsdtar --options hdrcharset=CP932 -xf "$2") ;;
        cabarc) (cd "$out" && "$WINE" cabarc -p X "$(winpath "$2")") ;;
        cabarcset) (cd "$out" && for c in $(members "$2"); do "$WINE" cabarc -p X "$(winpath "$c")" || exit 1; done) ;;
        extrac32) "$WINE" extrac32 /Y /E /L "$(winpath "$out")" "$(winpath "$2")" ;;
    esac > "$out.log" 2>&1 </dev/null
    python3 "$HERE/compare_tree.py" "${4:-$WORK/tree}" "$out" "$3" > "$out.diff" 2>&1 ||
        fail "$1 on $(basename "$2"): $(head -n 3 "$out.diff" | tr '\n' ' ')"
}

expect_rc() { # expected actual what
    [ "$2" = "$1" ] || fail "$3: result ${2:-none}, expected $1 ($(sed -n 2p "$WORK/$4.out" 2>/dev/null | iconv -f CP932 -t UTF-8 2>/dev/null))"
}

no_temp_left() { # folder what
    if ls "$1" | grep -qi '^cab.*\.tmp$'; then fail "$2: temporary file left in $1"; fi
}

rm -rf "$WORK"
mkdir -p "$WORK/out"
python3 "$HERE/make_trees.py" "$WORK" || { echo "FAIL: cannot build the tree"; exit 1; }
T=$(winpath "$WORK/tree")
O=$(winpath "$WORK/out")

# Writing.
rc=$(archive ascii "-a \"$O\\ascii.cab\" \"$T\\\" \"@$(winpath "$WORK/ascii.rsp")\"")
expect_rc 0 "$rc" "ascii cabinet" ascii
rc=$(archive full "-a \"$O\\full.cab\" \"$T\\\" \"@$(winpath "$WORK/full.rsp")\"")
expect_rc 0 "$rc" "full cabinet" full
rc=$(archive empties "-a \"$O\\empties.cab\" \"$T\" \"@$(winpath "$WORK/empties.rsp")\"")
expect_rc 0 "$rc" "cabinet of empty files" empties
# The writer with one and with two compressing threads, folders of at most
# 2,500,000 bytes: the same bytes, several folders.
for n in 1 2; do
    expect_rc 0 "$(archive threads$n "-a \"$O\\threads$n.cab\" \"$T\\\" \"@$(winpath "$WORK/ascii.rsp")\"" --threads $n --folder-limit 2500000)" "$n thread(s)" threads$n
done
grep -q "^folders=[2-9]" "$WORK/threads1.out" || fail "the small folder limit gave one folder: $(grep folders "$WORK/threads1.out")"
cmp -s "$WORK/out/threads1.cab" "$WORK/out/threads2.cab" || fail "one and two threads wrote different cabinets"
grep -q "OVERRUN" "$WORK"/*.out && fail "output buffer overrun"
no_temp_left "$WORK/out" "successful runs"

# Reading back: ASCII names with every extractor; double-byte names (stored in
# code page 932) with those that can be told the code page.
for x in cabextract gcab 7zz bsdtar cabarc extrac32; do
    check $x "$WORK/out/ascii.cab" "$WORK/ascii.rsp.list"
    check $x "$WORK/out/empties.cab" "$WORK/empties.rsp.list"
    check $x "$WORK/out/threads1.cab" "$WORK/ascii.rsp.list"
    check $x "$WORK/out/threads2.cab" "$WORK/ascii.rsp.list"
done
for x in cabextract932 bsdtar932 cabarc extrac32; do
    check $x "$WORK/out/full.cab" "$WORK/full.rsp.list"
done

# Attributes and dates, as 7-Zip lists them.
7zz l -slt "$WORK/out/ascii.cab" > "$WORK/ascii.slt" 2>&1
attr_of() { awk -v n="$1" '$0 == "Path = " n {f=1} f && /^Attributes = / {print $3; exit}' "$WORK/ascii.slt"; }
case $(attr_of readonly.txt) in *R*) ;; *) fail "readonly.txt lost its read-only attribute" ;; esac
case $(attr_of .hidden.txt) in *H*) ;; *) fail ".hidden.txt lost its hidden attribute" ;; esac
case $(attr_of text.txt) in *R*|*H*) fail "text.txt got attributes it does not have" ;; esac
grep -q "^Modified = 2001-02-03 04:05:06" "$WORK/ascii.slt" || fail "dates not kept"
grep "^Modified = " "$WORK/ascii.slt" | grep -v "2001-02-03 04:05:06" && fail "a date differs"

# Cabinet sets: 70,000 files (more than one cabinet can list) and a tree split
# by a lowered cabinet size. Each set is read from its first cabinet by
# cabextract and 7-Zip, and cabinet by cabinet by Wine's cabarc (its way with
# sets: files continued from a previous cabinet are left to that one).
python3 "$HERE/make_set_trees.py" "$WORK" || fail "cannot build the set trees"
M=$(winpath "$WORK/many")
expect_rc 0 "$(archive many "-a \"$O\\many.cab\" \"$M\\\" \"@$(winpath "$WORK/many.rsp")\"")" "70,000 files" many
[ -f "$WORK/out/many_2.cab" ] || fail "70,000 files did not make a set"
Z=$(winpath "$WORK/sized")
expect_rc 0 "$(archive sized "-v300000 -a \"$O\\sized.cab\" \"$Z\\\" \"@$(winpath "$WORK/sized.rsp")\"")" "sized set" sized
[ "$(members "$WORK/out/sized.cab" | wc -l)" -ge 5 ] || fail "a 300,000-byte cabinet size did not make a set of 5 or more"
for c in $(members "$WORK/out/sized.cab"); do
    [ "$(stat -c %s "$c")" -le 300000 ] || fail "$(basename "$c") is over the cabinet size"
done
for x in cabextract 7zz cabarcset; do
    check $x "$WORK/out/many.cab" "$WORK/many.rsp.list" "$WORK/many"
    check $x "$WORK/out/sized.cab" "$WORK/sized.rsp.list" "$WORK/sized"
done
no_temp_left "$WORK/out" "sets"

# Failure paths: an existing target stays as it was, no temporary file remains.
printf 'old cabinet' > "$WORK/out/keep.cab"
printf '"empty.txt"\r\n"missing.txt"\r\n' > "$WORK/missing.rsp"
printf '"text.txt"\r\n"..\\tree\\text.txt"\r\n' > "$WORK/parent.rsp"
: > "$WORK/empty.rsp"
K="-a \"$O\\keep.cab\" \"$T\\\""
expect_rc 30 "$(archive missing "$K \"@$(winpath "$WORK/missing.rsp")\"")" "missing file" missing
expect_rc 30 "$(archive locked "$K \"@$(winpath "$WORK/ascii.rsp")\"" --lock "$T\\text.txt")" "locked file" locked
expect_rc 25 "$(archive parent "$K \"@$(winpath "$WORK/parent.rsp")\"")" "parent path" parent
expect_rc 29 "$(archive none "$K \"@$(winpath "$WORK/empty.rsp")\"")" "empty response file" none
expect_rc 20 "$(archive norsp "$K \"@$(winpath "$WORK/absent.rsp")\"")" "absent response file" norsp
expect_rc 11 "$(archive switch "-x \"$O\\keep.cab\" \"$T\\\" \"@$(winpath "$WORK/ascii.rsp")\"")" "unknown switch" switch
expect_rc 41 "$(archive nofolder "-a \"$O\\nowhere\\new.cab\" \"$T\\\" \"@$(winpath "$WORK/ascii.rsp")\"")" "missing target folder" nofolder
grep -q "text.txt" "$WORK/locked.out" || fail "locked file not named in the message"
grep -q "missing.txt" "$WORK/missing.out" || fail "missing file not named in the message"
[ "$(cat "$WORK/out/keep.cab")" = "old cabinet" ] || fail "existing target changed by a failed run"
no_temp_left "$WORK/out" "failed runs"
[ -e "$WORK/out/nowhere" ] && fail "missing target folder was created"
if [ "$(id -u)" != 0 ]; then
    mkdir -p "$WORK/ro"; printf 'old' > "$WORK/ro/keep.cab"; chmod 555 "$WORK/ro"
    expect_rc 41 "$(archive rodir "-a \"$(winpath "$WORK/ro")\\keep.cab\" \"$T\\\" \"@$(winpath "$WORK/ascii.rsp")\"")" "read-only target folder" rodir
    [ "$(cat "$WORK/ro/keep.cab")" = "old" ] || fail "target in read-only folder changed"
    chmod 755 "$WORK/ro"
fi

if [ $failures -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "round trip passed"
