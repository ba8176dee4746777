#!/usr/bin/env bash
# Boots the prepared i386 guest once and runs one Java test class in it:
#   run_guest.sh <rig> <i386 library dir> <classes dir> <main class>
# ttyS0 is the console, which carries the test's output back here. ttyS1 and ttyS2 are the
# UARTs under test, joined to each other through socat, so a byte sent on one arrives on the
# other. The exit status is the Java test's own; a guest that hangs is killed by the timeout.
set -euo pipefail

rig=$1 libdir=$2 classes=$3 main=$4
limit=${PELLUSK_GUEST_TIMEOUT:-100}

for f in vmlinuz initrd.cpio.gz jroot; do
  [ -e "$rig/$f" ] || { echo "no $f in $rig: the rig fixture has not run" >&2; exit 1; }
done

tmp=$(mktemp -d)
link=
cleanup() {
  [ -z "$link" ] || kill "$link" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# QEMU waits for a client on each socket before it starts the guest (wait=on), in order; socat
# connects to both, retrying until QEMU has created each, and then carries bytes both ways.
socat "UNIX-CONNECT:$tmp/s1.sock,retry=600,interval=0.05" \
      "UNIX-CONNECT:$tmp/s2.sock,retry=600,interval=0.05" &
link=$!

share() { echo "local,path=$1,mount_tag=$2,security_model=none,readonly=on"; }
status=0
timeout --kill-after=5 "$limit" qemu-system-i386 -accel tcg -m 1024 -smp 1 \
  -nographic -no-reboot -monitor none -nodefaults -vga none \
  -kernel "$rig/vmlinuz" -initrd "$rig/initrd.cpio.gz" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 PELLUSK_MAIN=$main" \
  -serial stdio \
  -chardev "socket,id=s1,path=$tmp/s1.sock,server=on,wait=on" -serial chardev:s1 \
  -chardev "socket,id=s2,path=$tmp/s2.sock,server=on,wait=on" -serial chardev:s2 \
  -virtfs "$(share "$rig/jroot" jroot)" \
  -virtfs "$(share "$libdir" pellusklib)" \
  -virtfs "$(share "$classes" pelluskclasses)" \
  </dev/null | tr -d '\r' | tee "$tmp/console" || status=$?

if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
  echo "the guest did not finish within $limit s" >&2
  exit 1
fi
result=$(sed -n 's/^pellusk-guest-exit=\([0-9]*\)$/\1/p' "$tmp/console" | tail -1)
[ -n "$result" ] || { echo "the guest ended without reporting a result" >&2; exit 1; }
exit "$result"
