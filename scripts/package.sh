#!/usr/bin/env bash
# Builds everything and makes the shipped packages in build/linux-x86_64/packages:
#   libpellusk-jni_<version>_amd64.deb, libpellusk-jni_<version>_i386.deb and, once the
#   launcher is built, Velmoor-<version>-kit.zip.
# The build signs Velmoor.exe (dist/sign-launcher.sh says with what): with the key on the PKCS#11
# token that VELMOOR_SIGN_PKCS11_MODULE and VELMOOR_SIGN_PKCS11_KEY name, or with the PKCS#12 file
# of VELMOOR_SIGN_PKCS12, time-stamped by VELMOOR_SIGN_TIMESTAMP_URL when set; or else with a
# throw-away test certificate, and then the kit is Velmoor-<version>-test-signed-kit.zip.
# docs/release.md is the whole procedure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
cmake --build --preset linux-x86_64 --target packages
