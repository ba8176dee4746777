#!/usr/bin/env bash
# Checks a built libPellusk: its SONAME, that it needs the C library alone, and that it exports
# exactly the names in the expected list, nothing more and nothing less.
set -euo pipefail
lib=$1 expected=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -e "$lib" ] || fail "no library at $lib"
dynamic=$(readelf -d "$lib")
soname=$(sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p' <<<"$dynamic")
[ "$soname" = "libPellusk.so.4" ] || fail "SONAME is '$soname'"
needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic" | tr '\n' ' ')
[ "$needed" = "libc.so.6 " ] || fail "NEEDED is '$needed', not libc.so.6 alone"
[ "$(readlink "$lib")" = "libPellusk.so.4" ] || fail "libPellusk.so does not link to libPellusk.so.4"

actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
wanted=$(grep -v '^#' "$expected" | sed '/^$/d' | sort)
if [ "$actual" != "$wanted" ]; then
  diff <(echo "$wanted") <(echo "$actual") >&2 || true
  fail "exports differ from $expected (< expected, > exported)"
fi
echo "$lib: SONAME $soname, NEEDED $needed, $(wc -l <<<"$actual") exports as expected"
