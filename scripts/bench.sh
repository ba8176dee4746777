#!/usr/bin/env bash
# Builds everything, then runs the launcher's jar check against a plain read of the same jar,
# and the serial library's benchmark against plain C and jSSC on one pty pair, and prints the
# tables. `scripts/bench.sh --quick` makes a short smoke run.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! log=$(scripts/build.sh 2>&1 && cmake --build --preset linux-x86_64 --target bench_jar 2>&1); then
  echo "$log" >&2
  exit 1
fi
runs=5
[ "${1:-}" != --quick ] || runs=1
build/linux-x86_64/bench/jar_bench build/linux-x86_64/bench/bench.jar "$runs"
build/linux-x86_64/bench/jar_bench build/linux-x86_64/bench/bench-deflated.jar "$runs"
exec build/linux-x86_64/bench/run-bench.sh "$@"
