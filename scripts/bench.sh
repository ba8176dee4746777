#!/usr/bin/env bash
# Builds everything, then runs the serial library's benchmark against plain C and jSSC on one
# pty pair and prints the table. `scripts/bench.sh --quick` makes a short smoke run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
exec build/linux-x86_64/bench/run-bench.sh "$@"
