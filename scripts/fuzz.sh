#!/usr/bin/env bash
# Fuzzes the /proc text parsers of the serial library, the launcher's jar check (its end-record
# reader included) and its readers of signatures for longer than the test run does.
# Usage: scripts/fuzz.sh [seconds per target, default 600] [devices|apm|jar|signature ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=(devices apm jar signature)
[ $# -eq 0 ] || targets=("$@")
scripts/build.sh >/dev/null
for t in "${targets[@]}"; do
  tests=seriallib/tests/fuzz seeds=$t
  [[ $t != jar* ]] || tests=launcher/tests/fuzz seeds=jar
  [[ $t != signature ]] || tests=launcher/tests/fuzz
  build=build/linux-x86_64/$tests
  echo "fuzzing $t for ${seconds}s" >&2
  seriallib/tests/fuzz/run_fuzz.sh "$PWD/$build/${t}_fuzz" "$PWD/$tests/corpus/$seeds" \
    "$PWD/$build/corpus-$t" "$seconds" -timeout=10
done
