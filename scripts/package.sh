#!/usr/bin/env bash
# Builds everything and makes the shipped packages in build/linux-x86_64/packages:
#   libpellusk-jni_<version>_amd64.deb, libpellusk-jni_<version>_i386.deb and, once the
#   launcher is built, Velmoor-<version>-kit.zip.
# The build signs Velmoor.exe: with the PKCS#12 file that VELMOOR_SIGN_PKCS12 names (password in
# VELMOOR_SIGN_PASSWORD; a time stamp from VELMOOR_SIGN_TIMESTAMP_URL when set), or else with a
# throw-away test certificate, and then the kit is Velmoor-<version>-test-signed-kit.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
cmake --build --preset linux-x86_64 --target packages
