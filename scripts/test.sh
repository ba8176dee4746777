#!/usr/bin/env bash
# Builds everything and runs every test through CTest. Extra arguments go to ctest
# (for example: scripts/test.sh -L java).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
way=$(scripts/host-way.sh)
case $way in
  native*) echo "Host: $way: the i386 Java tests run in the 32-bit JVM here, the Wine scenarios on the i686 launcher" ;;
  *) echo "Host: $way: the i386 Java tests run in the i386 QEMU guest, the Wine scenarios on the launcher's x86_64 build under the 64-bit Wine loader" ;;
esac
ctest --preset all "$@"
