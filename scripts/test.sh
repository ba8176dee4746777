#!/usr/bin/env bash
# Builds everything and runs every test through CTest. Extra arguments go to ctest
# (for example: scripts/test.sh -L java).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --preset all "$@"
