#!/usr/bin/env bash
# The long run of the serial library: `scripts/soak.sh [seconds]` builds everything, then runs
# the signal-storm test, which also watches the resident size, for that long (default 600; CI
# runs it for 30) in both JVMs, and prints its figures. The storm goes back to 30 s afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
if ! log=$(scripts/build.sh 2>&1); then
  echo "$log" >&2
  exit 1
fi
trap 'cmake --preset linux-x86_64 -DPELLUSK_STORM_SECONDS=30 >/dev/null' EXIT
cmake --preset linux-x86_64 -DPELLUSK_STORM_SECONDS="$seconds" >/dev/null
set +e
ctest --preset all -R '^seriallib\.(java\..*\.Storm|qemu\.guest)$' -V |
  grep -E '^[0-9]+: (storm|FAILED)|tests passed|tests failed'
exit "${PIPESTATUS[0]}"
