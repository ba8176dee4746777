#!/usr/bin/env bash
# Fuzzes the /proc text parsers of the serial library for longer than the test run does.
# Usage: scripts/fuzz.sh [seconds per target, default 600] [devices|apm ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=(devices apm)
[ $# -eq 0 ] || targets=("$@")
scripts/build.sh >/dev/null
build=build/linux-x86_64/seriallib/tests/fuzz
for t in "${targets[@]}"; do
  echo "fuzzing $t for ${seconds}s" >&2
  seriallib/tests/fuzz/run_fuzz.sh "$PWD/$build/${t}_fuzz" "$PWD/seriallib/tests/fuzz/corpus/$t" \
    "$PWD/$build/corpus-$t" "$seconds" -timeout=10
done
