#!/usr/bin/env bash
# install_and_load.sh <throw-away root> <amd64 .deb> <i386 .deb> <classpath> <java amd64> <java i386>
# Installs both library packages side by side with dpkg into a throw-away root, then runs each
# architecture's JVM on a probe with no library path given, in a private mount namespace with the
# root's /usr laid over the machine's: the JVM finds the library where the package put it. In a
# chroot whose root is not a mount point (no private namespace) the probe gets -Djava.library.path
# in the throw-away root, and the JVM's default path must hold that folder. Where i386 code cannot
# run, <java i386> is "guest": the QEMU guest's i386 JVM runs the probe with the package's folder
# laid over its own (PELLUSK_GUEST_RUNNER, _QEMU_RIG, _GUEST_LIBDIR and _GUEST_CLASSES boot it).
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

unshare_private() {  # a user other than root is mapped to root in the namespace
  unshare $([ "$(id -u)" -eq 0 ] || echo --map-root-user) --mount --propagation private "$@"
}

run_in_overlay() {
  unshare_private sh -c 'mount -t overlay tarvio-dist -o "lowerdir=$0/usr:/usr" /usr && exec "$@"' "$root" "$@"
}

# The folders of the JVM's own default library path, one a line.
default_library_path() {
  "$1" -XshowSettings:properties -version 2>&1 |
    awk '/^ *java.library.path = / { on = 1; print $3; next } on && /^ +\// { print $1; next } { on = 0 }'
}

run_in_chroot() {  # java triplet classpath
  local folder=/usr/lib/$2/jni
  if ! default_library_path "$1" | grep -qxF "$folder"; then
    echo "FAILED: $folder is not on the JVM's default library path"
    return 1
  fi
  "$1" -Xcheck:jni -Djava.library.path="$root$folder" -cp "$3" InstalledLibraryProbe "$root$folder"
}

run_in_guest() {  # classpath of the probe, without the library's own classes
  "$PELLUSK_GUEST_RUNNER" --share "$root/usr/lib/i386-linux-gnu/jni:/usr/lib/i386-linux-gnu/jni" \
    --share "${1%%:*}:/pellusk/probe" "$PELLUSK_QEMU_RIG" "$PELLUSK_GUEST_LIBDIR" "$PELLUSK_GUEST_CLASSES" \
    "installed -cp /pellusk/probe:/pellusk/classes InstalledLibraryProbe /usr/lib/i386-linux-gnu/jni"
}

root=$(realpath "$root")
if unshare_private true 2>/dev/null; then
  way=overlay
else
  way=chroot
  echo "no private mount namespace here (a root that is not a mount point): the JVMs get the library path"
fi

status=0
for arch in amd64 i386; do
  if [ $arch = amd64 ]; then java=$java_amd64 triplet=x86_64-linux-gnu; else java=$java_i386 triplet=i386-linux-gnu; fi
  if [ "$java" = guest ]; then
    echo "== $arch JVM in the i386 guest, no -Djava.library.path"
    run_in_guest "$classpath" || status=1
  elif [ $way = overlay ]; then
    echo "== $arch JVM, no -Djava.library.path"
    run_in_overlay "$java" -Xcheck:jni -cp "$classpath" InstalledLibraryProbe "/usr/lib/$triplet/jni" || status=1
  else
    echo "== $arch JVM, the library path in the throw-away root"
    run_in_chroot "$java" "$triplet" "$classpath" || status=1
  fi
done

exit $status
