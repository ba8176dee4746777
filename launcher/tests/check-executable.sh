#!/usr/bin/env bash
# Checks the built launcher: a 32-bit x86 Windows GUI program that imports only DLLs every
# Windows has, carries version 4.1.0.0 and the manifest the system reads, and stays under 300 KB.   Usage: check-executable.sh EXE
set -euo pipefail
exe=$1
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

headers=$(i686-w64-mingw32-objdump -p "$exe")
grep -q 'file format pei-i386' <<<"$headers" || fail "not a PE32 i386 file"
grep -qE '^Magic[[:space:]]+010b' <<<"$headers" || fail "not PE32"
grep -qE '^Subsystem[[:space:]]+00000002' <<<"$headers" || fail "not a GUI program"

allowed=" kernel32.dll user32.dll gdi32.dll msvcrt.dll advapi32.dll shell32.dll comctl32.dll "
while read -r dll; do
    [[ "$allowed" == *" ${dll,,} "* ]] || fail "imports $dll, which is not a Windows system DLL"
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")

size=$(stat -c %s "$exe")
[ "$size" -lt $((300 * 1024)) ] || fail "is $size bytes, over 300 KB"

# VS_FIXEDFILEINFO starts with its signature 0xFEEF04BD and the struct version, then the file version
# (MS, LS) and product version (MS, LS) as little-endian dwords.
offset=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$exe" | head -1 | cut -d: -f1 || true)
if [ -z "$offset" ]; then
    fail "has no version resource"
else
    read -r _ _ fileMS fileLS productMS productLS < <(od -An -tx4 -w24 -j "$offset" -N 24 "$exe")
    [ "$fileMS $fileLS" = "00040001 00000000" ] || fail "file version is $fileMS $fileLS"
    [ "$productMS $productLS" = "00040001 00000000" ] || fail "product version is $productMS $productLS"
fi

"$(dirname "$0")/check-manifest.py" "$exe" || fail "has not the manifest it needs"

[ $failed -eq 0 ] && echo "ok: $exe ($size bytes)"
exit $failed
