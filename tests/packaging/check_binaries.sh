#!/bin/sh
# Checks the two shipped files: 64-bit GUI program and DLL, no MinGW runtime
# DLL among their imports, and the archiver's entry exported as ordinal 1.
BIN=$1
export LC_ALL=C
OBJDUMP=x86_64-w64-mingw32-objdump
status=0
fail() { echo "FAIL: $*"; status=1; }

for f in Kestelvarnholm.exe CAB32.dll; do
    [ -f "$BIN/$f" ] || { fail "$f missing"; continue; }
    headers=$($OBJDUMP -p "$BIN/$f")
    echo "$headers" | grep -q "^Magic.*020b" || fail "$f is not a 64-bit image"
    imports=$(echo "$headers" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
    echo "$f imports: $(echo $imports)"
    for dll in $imports; do
        case "$dll" in
            libstdc++*|libgcc*|libwinpthread*|libz*|zlib*|mingw*) fail "$f needs $dll" ;;
        esac
    done
done

$OBJDUMP -p "$BIN/Kestelvarnholm.exe" | grep -q "^Subsystem.*(Windows GUI)" || fail "Kestelvarnholm.exe is not a GUI program"
# The export table lists ordinal 1 (the ordinal base is 1, entry [0]).
$OBJDUMP -p "$BIN/CAB32.dll" | grep -A3 "Export Address Table" | grep -q "\[   0\] +base\[   1\]" \
    || fail "CAB32.dll does not export ordinal 1"
[ $status = 0 ] && echo "packaging: OK"
exit $status
