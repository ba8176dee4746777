#!/usr/bin/env bash
# Builds everything, then runs the launcher's jar check against a plain read of the same jar, the
# update's copy checked as it comes in against a plain copy from the same slow reader (also for
# the same jar signed by jarsigner, over an install of it), and the
# serial library's benchmark against plain C and jSSC on one pty pair, and prints the tables.
# `scripts/bench.sh --quick` makes a short smoke run.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! log=$(scripts/build.sh 2>&1 && cmake --build --preset linux-x86_64 --target bench_jar 2>&1); then
  echo "$log" >&2
  exit 1
fi
runs=5
[ "${1:-}" != --quick ] || runs=1
build/linux-x86_64/bench/jar_bench build/linux-x86_64/bench/bench.jar "$runs" --copy
build/linux-x86_64/bench/jar_bench build/linux-x86_64/bench/bench-signed.jar "$runs" --copy
build/linux-x86_64/bench/jar_bench build/linux-x86_64/bench/bench-deflated.jar "$runs" --copy
exec build/linux-x86_64/bench/run-bench.sh "$@"
