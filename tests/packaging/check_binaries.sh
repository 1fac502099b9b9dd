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

# No text through GDI's ANSI functions. The manifest gives the process code page 932 on any Windows 11,
# but GDI converts ANSI text with the system's code page, and so do the USER32 functions that draw text
# with a DC's font. GDI32 has an A and a W form exactly where text crosses the call (strings, characters,
# face, device and file names), so an import of GDI32 whose name ends in A while GDI32 also exports the
# W form is such a function; LineDDA, for one, is not.
GDI_EXPORTS=$(x86_64-w64-mingw32-nm --defined-only /usr/x86_64-w64-mingw32/lib/libgdi32.a 2>/dev/null |
    awk '$2 == "T" { print $3 }' | sort -u)
echo "$GDI_EXPORTS" | grep -qx CreateFontIndirectW || fail "cannot list GDI32's functions"
DC_TEXT_FUNCTIONS="DrawTextA DrawTextExA GrayStringA TabbedTextOutA GetTabbedTextExtentA DrawStateA"
for f in Kestelvarnholm.exe CAB32.dll; do
    [ -f "$BIN/$f" ] || continue
    # One line per import: the DLL's name in lower case, a colon, the function's name.
    imports=$($OBJDUMP -p "$BIN/$f" | awk '/DLL Name:/ { dll = tolower($3); next }
        dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print dll ":" $3 }')
    echo "$imports" | grep -q "^kernel32.dll:" || fail "$f: no imports read"
    for entry in $imports; do
        name=${entry#*:}
        case "$entry" in
            gdi32.dll:*A)
                echo "$GDI_EXPORTS" | grep -qx "${name%A}W" && fail "$f imports $name: GDI text in the system's code page" ;;
            user32.dll:*)
                for dc in $DC_TEXT_FUNCTIONS; do
                    [ "$name" = "$dc" ] && fail "$f imports $name: text drawn in the DC font's code page"
                done ;;
        esac
    done
done

$OBJDUMP -p "$BIN/Kestelvarnholm.exe" | grep -q "^Subsystem.*(Windows GUI)" || fail "Kestelvarnholm.exe is not a GUI program"
# The export table lists ordinal 1 (the ordinal base is 1, entry [0]).
$OBJDUMP -p "$BIN/CAB32.dll" | grep -A3 "Export Address Table" | grep -q "\[   0\] +base\[   1\]" \
    || fail "CAB32.dll does not export ordinal 1"
[ $status = 0 ] && echo "packaging: OK"
exit $status
