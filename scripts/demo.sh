#!/usr/bin/env bash
# Builds everything and runs the main job: the serial library at work in the real 32-bit JVM
# (and the 64-bit one), then the launcher under Wine on a virtual screen, with screenshots
# saved under build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh

out=build/demo
mkdir -p "$out"
classes=build/linux-x86_64/seriallib/tests/classes

echo "== libPellusk in the 32-bit JVM =="
/usr/lib/jvm/java-17-openjdk-i386/bin/java -Djava.library.path=build/linux-i386/seriallib \
  -cp "$classes" Demo
echo
echo "== libPellusk in the 64-bit JVM =="
/usr/lib/jvm/java-17-openjdk-amd64/bin/java -Djava.library.path=build/linux-x86_64/seriallib \
  -cp "$classes" Demo

if [ -x launcher/demo/run-demo.sh ]; then
  echo
  echo "== Velmoor.exe under Wine =="
  launcher/demo/run-demo.sh "$out"
fi
