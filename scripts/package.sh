#!/usr/bin/env bash
# Builds everything and makes the shipped packages in build/linux-x86_64/packages:
#   libpellusk-jni_<version>_amd64.deb, libpellusk-jni_<version>_i386.deb and, once the
#   launcher is built, Velmoor-<version>-kit.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
cmake --build --preset linux-x86_64 --target packages
