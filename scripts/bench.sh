#!/usr/bin/env bash
# Builds everything, then runs the serial library's benchmark against plain C and jSSC on one
# pty pair and prints the table. `scripts/bench.sh --quick` makes a short smoke run.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! log=$(scripts/build.sh 2>&1); then
  echo "$log" >&2
  exit 1
fi
exec build/linux-x86_64/bench/run-bench.sh "$@"
