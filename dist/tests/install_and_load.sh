#!/usr/bin/env bash
# install_and_load.sh <throw-away root> <amd64 .deb> <i386 .deb> <classpath> <java amd64> <java i386>
#
# Installs both library packages side by side with dpkg into a throw-away root, then runs each
# architecture's JVM on a probe with no library path given. The JVM runs in a private mount
# namespace whose /usr is the throw-away root's /usr laid over the machine's own (an overlay),
# so it finds the library exactly where the package put it, as on a machine with the package
# installed, while the machine itself stays untouched.
set -euo pipefail
root=$1 deb_amd64=$2 deb_i386=$3 classpath=$4 java_amd64=$5 java_i386=$6

rm -rf "$root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg_root=(dpkg --root="$root" --log=/dev/null)
[ "$(id -u)" -eq 0 ] || dpkg_root+=(--force-not-root)
"${dpkg_root[@]}" --add-architecture i386

# libc6 lives in the machine's database, not in the throw-away one: only that is forced. dpkg
# refuses the second package if a file both ship (the documents) differs between them, so this
# also proves the two can be co-installed under Multi-Arch: same.
"${dpkg_root[@]}" --force-depends --install "$deb_amd64" "$deb_i386"

for pkg in libpellusk-jni:amd64 libpellusk-jni:i386; do
  state=$("${dpkg_root[@]}" --status "$pkg" | sed -n 's/^Status: //p')
  [ "$state" = "install ok installed" ] || { echo "$pkg: status '$state'"; exit 1; }
done

run_in_overlay() {
  local script='mount -t overlay tarvio-dist -o "lowerdir=$0/usr:/usr" /usr && exec "$@"'
  if [ "$(id -u)" -eq 0 ]; then
    unshare --mount --propagation private sh -c "$script" "$root" "$@"
  else
    unshare --map-root-user --mount --propagation private sh -c "$script" "$root" "$@"
  fi
}

status=0
for arch in amd64 i386; do
  if [ $arch = amd64 ]; then java=$java_amd64 triplet=x86_64-linux-gnu; else java=$java_i386 triplet=i386-linux-gnu; fi
  echo "== $arch JVM, no -Djava.library.path"
  for f in libPellusk.so libPellusk.so.4 libPellusk.so.4.7.0; do
    [ -e "$root/usr/lib/$triplet/jni/$f" ] || { echo "missing $f"; status=1; }
  done
  run_in_overlay "$java" -Xcheck:jni -cp "$classpath" InstalledLibraryProbe "/usr/lib/$triplet/jni" || status=1
done

# Removing one architecture leaves the other's library and the shared documents in place.
"${dpkg_root[@]}" --remove libpellusk-jni:i386 >/dev/null
[ ! -e "$root/usr/lib/i386-linux-gnu/jni/libPellusk.so.4.7.0" ] || { echo "i386 library left behind"; status=1; }
[ -e "$root/usr/lib/x86_64-linux-gnu/jni/libPellusk.so.4.7.0" ] || { echo "amd64 library removed with i386"; status=1; }
[ -e "$root/usr/share/doc/libpellusk-jni/copyright" ] || { echo "shared copyright removed"; status=1; }
exit $status
