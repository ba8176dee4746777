#!/bin/sh
# The guest's /init: mounts the JDK and the shares over 9p, runs the plan's "runs" ("fake",
# "installed" or "-", then JVM arguments and main class) and reports "pellusk-guest-exit=N" last.
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
# ttyS3 carries the USB tests' requests to the host side and its answers, as lines.
stty -F /dev/ttyS3 raw -echo clocal

finish() {
  echo "pellusk-guest-exit=$1"
  poweroff -f
}

for m in $(cat /modules/order); do
  insmod "/modules/$m.ko" || finish 120
done
opts=trans=virtio,version=9p2000.L,msize=512000,cache=loose,ro
mount -t 9p -o $opts jroot /mnt || finish 121
mount -t 9p -o $opts plan /plan || finish 122
# Throw-away folders for the tests' files and nodes; the further shares mount inside /pellusk.
for dir in tmp run var/lib pellusk; do mount -t tmpfs tmpfs "/mnt/$dir"; done
mount -t proc proc /mnt/proc
mount -t sysfs sys /mnt/sys
mount -t devtmpfs dev /mnt/dev
mkdir -p /mnt/dev/pts
mount -t devpts -o ptmxmode=666 devpts /mnt/dev/pts
while read -r tag path; do
  mkdir -p "/mnt$path" 2>/dev/null
  mount -t 9p -o $opts "$tag" "/mnt$path" || finish 123
done </plan/mounts

java=/usr/lib/jvm/java-17-openjdk-i386/bin/java
status=0
while read -r mode args; do
  [ -n "$args" ] || continue
  fake= libpath=-Djava.library.path=/pellusk/lib
  case $mode in
    fake) fake=/pellusk/lib/libKernelFake.so ;;
    installed) libpath= ;;  # the JVM finds the library on its own default path
  esac
  # shellcheck disable=SC2086 # the JVM's arguments are words of the plan
  LD_PRELOAD=$fake chroot /mnt $java -Xcheck:jni -XX:-UsePerfData $libpath \
    -Dpellusk.brokenClasses=/pellusk/classes-broken -cp /pellusk/classes $args </dev/null
  rc=$?
  echo "pellusk-guest-run: $args: exit $rc"
  [ $rc -eq 0 ] || status=$rc
done </plan/runs
finish $status
