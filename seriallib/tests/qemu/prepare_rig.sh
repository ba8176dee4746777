#!/usr/bin/env bash
# Prepares what the i386 guest boots from: vmlinuz (Debian's, unpacked), initrd.cpio.gz (busybox,
# the 9p, virtio, USB host controller and FTDI modules, /init) and jroot/ (the host's 32-bit JDK
# and its libraries). Kept until a package version or these scripts change.
set -euo pipefail

rig=$1
here=$(cd "$(dirname "$0")" && pwd)
jdk=/usr/lib/jvm/java-17-openjdk-i386
# The modules the guest needs; those they depend on come along.
modules=(virtio_pci 9pnet_virtio 9p uhci-hcd ftdi_sio)

kernel_pkg=$(apt-cache depends linux-image-686:i386 | sed -n 's/^ *Depends: \(linux-image-[^ ]*-686\).*/\1/p' | head -1)
[ -n "$kernel_pkg" ] || { echo "no i386 kernel package known to apt" >&2; exit 1; }
kernel_ver=$(apt-cache policy "$kernel_pkg:i386" | sed -n 's/^ *Candidate: //p')
busybox_ver=$(apt-cache policy busybox-static:i386 | sed -n 's/^ *Candidate: //p')
jdk_ver=$(dpkg-query -W -f='${Version}' openjdk-17-jre-headless:i386)
key=$(printf '%s\n' "$kernel_pkg $kernel_ver" "busybox $busybox_ver" "jdk $jdk_ver" \
        "$(cat "$here/prepare_rig.sh" "$here/guest_init.sh" | sha256sum)" | sha256sum | cut -c1-16)

if [ "$(cat "$rig/key" 2>/dev/null)" = "$key" ]; then
  echo "rig $rig is up to date ($kernel_pkg, key $key)"
  exit 0
fi

echo "preparing rig in $rig: $kernel_pkg $kernel_ver, busybox $busybox_ver, JDK $jdk_ver"
work=$rig.new
rm -rf "$work"
mkdir -p "$work/debs" "$work/unpacked"
# apt's sandbox user (_apt) may not write into the build tree: download as the caller.
(cd "$work/debs" && apt-get download -q -o APT::Sandbox::User=root \
    "$kernel_pkg:i386=$kernel_ver" "busybox-static:i386=$busybox_ver")
for deb in "$work"/debs/*.deb; do dpkg -x "$deb" "$work/unpacked"; done
kdir=$(echo "$work"/unpacked/lib/modules/*)
cp "$work"/unpacked/boot/vmlinuz-* "$work/vmlinuz"

root=$work/initramfs
mkdir -p "$root"/{bin,dev,proc,sys,mnt,plan,modules}
cp "$work/unpacked/bin/busybox" "$root/bin/busybox"
for applet in sh mount umount insmod chroot poweroff cat mkdir echo sed stty; do
  ln -s busybox "$root/bin/$applet"
done
# The package ships no modules.dep: each module names what it needs in its .modinfo section, and
# goes into the load order after those.
declare -A placed=()
order=()
place_module() {
  local file dep
  [ -z "${placed[$1]:-}" ] || return 0
  placed[$1]=1
  file=$(find "$kdir" -name "$1.ko" -o -name "${1//_/-}.ko" -o -name "${1//-/_}.ko" | head -1)
  [ -n "$file" ] || { echo "module $1 missing from $kernel_pkg" >&2; exit 1; }
  for dep in $(objcopy -O binary --only-section=.modinfo "$file" /dev/stdout | tr '\0' '\n' |
               sed -n 's/^depends=//p' | tr ',' ' '); do
    place_module "$dep"
  done
  cp "$file" "$root/modules/"
  order+=("$(basename "$file" .ko)")
}
for m in "${modules[@]}"; do place_module "$m"; done
printf '%s\n' "${order[@]}" >"$root/modules/order"
install -m 755 "$here/guest_init.sh" "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) | gzip -1 >"$work/initrd.cpio.gz"

# The JDK's libraries, from the dynamic sections: ldd would run the i386 loader, which a host
# without 32-bit emulation cannot.
find_i386_lib() {
  local dir
  for dir in /lib/i386-linux-gnu /usr/lib/i386-linux-gnu; do
    [ -e "$dir/$1" ] && { echo "$dir/$1"; return 0; }
  done
  return 1  # the JDK's own libraries, found through its run path
}
needed_i386_libs() {
  local -A seen=()
  local queue=("$@") file lib path
  while [ ${#queue[@]} -gt 0 ]; do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    for lib in $(readelf -d "$file" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'); do
      [ -z "${seen[$lib]:-}" ] || continue
      seen[$lib]=1
      path=$(find_i386_lib "$lib") || continue
      echo "$path"
      queue+=("$path")
    done
  done
}
# The JDK's links point into /etc, so the tree keeps host paths and the guest chroots into it.
jroot=$work/jroot
mkdir -p "$jroot/usr/lib/i386-linux-gnu/jni" "$jroot/etc" "$jroot"/{proc,sys,dev,tmp,run,var/lib,pellusk}
ln -s usr/lib "$jroot/lib"
ln -s ../run "$jroot/var/run"
mkdir -p "$jroot$(dirname "$jdk")"
cp -a "$jdk" "$jroot$jdk"
rm -rf "$jroot$jdk"/{jmods,include,man,legal,lib/src.zip,lib/ct.sym}
cp -a /etc/java-17-openjdk "$jroot/etc/"
mapfile -d '' jdk_files < <(find -L "$jdk" -type f \( -name '*.so' -o -path '*/bin/*' \) -print0)
libs=$(needed_i386_libs "${jdk_files[@]}" | grep -v '/ld-linux.so.2$' | sort -u)
for lib in $libs /lib/ld-linux.so.2; do
  cp -L "$lib" "$jroot/usr/lib/i386-linux-gnu/$(basename "$lib")"
done
mv "$jroot/usr/lib/i386-linux-gnu/ld-linux.so.2" "$jroot/usr/lib/ld-linux.so.2"

rm -rf "$work/debs" "$work/unpacked" "$root"
echo "$key" >"$work/key"
rm -rf "$rig"
mv "$work" "$rig"
echo "rig ready: $(du -sh "$rig" | cut -f1) in $rig"
