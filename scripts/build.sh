#!/usr/bin/env bash
# Builds everything: the x86_64 tree, which also builds the i386 library and the Windows launcher.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset linux-x86_64 >/dev/null
cmake --build --preset linux-x86_64
