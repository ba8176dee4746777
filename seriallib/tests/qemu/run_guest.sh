#!/usr/bin/env bash
# run_guest.sh [--share HOST_DIR:GUEST_DIR]... <rig> <i386 library dir> <classes dir> <run>...
# Boots the i386 guest once for all runs (JVM arguments and main class as one word; "fake " first
# preloads the kernel fake, "installed " leaves the library path to the JVM). ttyS0 carries the
# output; ttyS1 and ttyS2 are joined through socat. A USB serial adapter (QEMU's FT232) has
# usb_far_end.py as its far end, which plugs and unplugs it on the requests that come on ttyS3.
# Exits with the last failed run's status.
set -euo pipefail

shares=()
while [ "${1:-}" = --share ]; do
  shares+=("$2")
  shift 2
done
rig=$1 libdir=$2 classes=$3
shift 3
[ -e "$rig/key" ] || { echo "no guest in $rig: the rig fixture has not run" >&2; exit 1; }

tmp=$(mktemp -d)
link= far=
trap 'for p in $link $far; do kill "$p" 2>/dev/null || true; done; rm -rf "$tmp"' EXIT
mkdir "$tmp/plan"
shares=("$libdir:/pellusk/lib" "$classes:/pellusk/classes" "${shares[@]}")
[ -d "$classes-broken" ] && shares+=("$classes-broken:/pellusk/classes-broken")
virtfs=()
for i in "${!shares[@]}"; do
  echo "share$i ${shares[$i]#*:}" >>"$tmp/plan/mounts"
  virtfs+=(-virtfs "local,path=${shares[$i]%%:*},mount_tag=share$i,security_model=none,readonly=on")
done
for run in "$@"; do
  case $run in
    "fake "* | "installed "*) echo "$run" ;;
    *) echo "- $run" ;;
  esac
done >"$tmp/plan/runs"

# QEMU waits (wait=on) for socat on each socket, in order, before it starts the guest.
socat "UNIX-CONNECT:$tmp/s1.sock,retry=600,interval=0.05" "UNIX-CONNECT:$tmp/s2.sock,retry=600,interval=0.05" &
link=$!
/usr/bin/python3 "$(dirname "$0")/usb_far_end.py" "$tmp" &
far=$!
limit=${PELLUSK_GUEST_TIMEOUT:-100}
status=0
timeout --kill-after=5 "$limit" qemu-system-i386 -accel tcg -m 1024 -smp 1 \
  -nographic -no-reboot -monitor none -nodefaults -vga none \
  -kernel "$rig/vmlinuz" -initrd "$rig/initrd.cpio.gz" -append "console=ttyS0 quiet loglevel=3 panic=-1" \
  -device piix3-usb-uhci,id=uhci -chardev "socket,id=u0,path=$tmp/u0.sock,server=on,wait=off" \
  -device usb-serial,chardev=u0,id=ser0,bus=uhci.0 -qmp "unix:$tmp/qmp.sock,server=on,wait=off" \
  -serial stdio \
  -chardev "socket,id=s1,path=$tmp/s1.sock,server=on,wait=on" -serial chardev:s1 \
  -chardev "socket,id=s2,path=$tmp/s2.sock,server=on,wait=on" -serial chardev:s2 \
  -chardev "socket,id=ctl,path=$tmp/ctl.sock,server=on,wait=on" -serial chardev:ctl \
  -virtfs "local,path=$rig/jroot,mount_tag=jroot,security_model=none,readonly=on" \
  -virtfs "local,path=$tmp/plan,mount_tag=plan,security_model=none,readonly=on" \
  "${virtfs[@]}" </dev/null 2>"$tmp/qemu.log" | tr -d '\r' | tee "$tmp/console" |
  sed -u -e 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\x1bc//g' -e '/^SeaBIOS (version/d; /^Booting from ROM\.*$/d' \
    -e 's/^Booting from ROM\.*//' || status=$?

# The firmware's screen codes may stand before the line when nothing else was printed.
result=$(sed -n 's/^.*pellusk-guest-exit=\([0-9]*\)$/\1/p' "$tmp/console" | tail -1)
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ] || [ -z "$result" ]; then
  cat "$tmp/qemu.log" >&2
  echo "the guest did not finish within $limit s, or ended without reporting a result" >&2
  exit 1
fi
exit "$result"
