#!/bin/sh
# The guest's /init: mounts the JDK and the build's outputs over 9p, runs one Java test class
# in the 32-bit JVM and powers off. The kernel hands PELLUSK_MAIN over from its command line
# as an environment variable. The host reads the result from the console:
# everything the test prints, then one "pellusk-guest-exit=N" line.
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev

finish() {
  echo "pellusk-guest-exit=$1"
  poweroff -f
}

for m in $(cat /modules/order); do
  insmod "/modules/$m.ko" || finish 120
done
opts=trans=virtio,version=9p2000.L,msize=512000,cache=loose,ro
mount -t 9p -o $opts jroot /mnt || finish 121
mount -t 9p -o $opts pellusklib /mnt/pellusk/lib || finish 122
mount -t 9p -o $opts pelluskclasses /mnt/pellusk/classes || finish 123
mount -t proc proc /mnt/proc
mount -t sysfs sys /mnt/sys
mount -t devtmpfs dev /mnt/dev
mount -t tmpfs tmp /mnt/tmp

[ -n "$PELLUSK_MAIN" ] || finish 124
chroot /mnt /usr/lib/jvm/java-17-openjdk-i386/bin/java -Xcheck:jni -XX:-UsePerfData \
  -Djava.library.path=/pellusk/lib -cp /pellusk/classes "$PELLUSK_MAIN"
finish $?
