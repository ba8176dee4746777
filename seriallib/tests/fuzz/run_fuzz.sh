#!/usr/bin/env bash
# run_fuzz.sh <fuzz binary> <seed corpus> <work corpus> <seconds> [libFuzzer flags...]: runs one
# fuzz target for the given time on a work corpus seeded from the kept one. A crash leaves its
# input in the work corpus directory and fails.
set -euo pipefail
binary=$1 seeds=$2 work=$3 seconds=$4
shift 4
mkdir -p "$work"
cd "$work"
exec "$binary" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" "$@" \
  "$work" "$seeds"
