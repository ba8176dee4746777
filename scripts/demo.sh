#!/usr/bin/env bash
# Builds everything and runs the main job: the serial library at work in the real 32-bit JVM
# (and the 64-bit one), then the launcher under Wine on a virtual screen, with screenshots
# saved under build/demo/. Where the host cannot run i386 code (scripts/host-way.sh says which
# way it goes), the 32-bit JVM runs inside the i386 QEMU guest and the launcher's x86_64 build
# under the 64-bit Wine loader.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh

out=build/demo
mkdir -p "$out"
classes=build/linux-x86_64/seriallib/tests/classes
echo "Host: $(scripts/host-way.sh)"
way=$(scripts/host-way.sh --way)

echo
if [ "$way" = native ]; then
  echo "== libPellusk in the 32-bit JVM =="
  /usr/lib/jvm/java-17-openjdk-i386/bin/java -Djava.library.path=build/linux-i386/seriallib \
    -cp "$classes" Demo
else
  echo "== libPellusk in the 32-bit JVM, inside the i386 guest =="
  rig=build/linux-x86_64/qemu-rig
  seriallib/tests/qemu/prepare_rig.sh "$rig" >/dev/null
  seriallib/tests/qemu/run_guest.sh "$rig" build/linux-i386/seriallib "$classes" Demo |
    grep -v '^pellusk-guest-\|reboot: Power down'
fi
echo
echo "== libPellusk in the 64-bit JVM =="
/usr/lib/jvm/java-17-openjdk-amd64/bin/java -Djava.library.path=build/linux-x86_64/seriallib \
  -cp "$classes" Demo

if [ -x launcher/demo/run-demo.sh ]; then
  echo
  if [ "$way" = native ]; then
    echo "== Velmoor.exe under Wine =="
    launcher/demo/run-demo.sh "$out"
  else
    echo "== Velmoor.exe (its x86_64 build) under the 64-bit Wine loader =="
    VELMOOR_WINE_ARCH=win64 launcher/demo/run-demo.sh "$out"
  fi
fi
