#!/usr/bin/env bash
# Prints which way this host tests the i386 deliverables, and why, as the last configure of the
# x86_64 build decided it (cmake/HostWays.cmake): "native: ..." or "no-i386: ...".
# With --way it prints the way alone.
set -euo pipefail
cd "$(dirname "$0")/.."
file=build/linux-x86_64/host-way.txt
[ -f "$file" ] || { echo "no $file: run scripts/build.sh first" >&2; exit 1; }
if [ "${1:-}" = --way ]; then cut -d: -f1 "$file"; else cat "$file"; fi
