#!/usr/bin/env bash
# check_debs.sh <version> <.deb>...
# The control data and the files of the library packages (amd64, i386) of this version.
set -euo pipefail
version=$1 major=${1%%.*}
shift
status=0
fail() { echo "FAILED: $*"; status=1; }

expect_field() {  # deb field pattern
  local value
  value=$(dpkg-deb --field "$1" "$2")
  [[ $value =~ ^$3$ ]] || fail "$(basename "$1"): $2 is '$value', expected /$3/"
}

for deb in "$@"; do
  case $deb in
    *_amd64.deb) arch=amd64 triplet=x86_64-linux-gnu ;;
    *_i386.deb) arch=i386 triplet=i386-linux-gnu ;;
    *) fail "unknown architecture: $deb"; continue ;;
  esac
  echo "== $(basename "$deb")"

  # Multi-Arch: same shows in the co-installation of both (install_and_load.sh).
  expect_field "$deb" Version "${version//./\\.}"
  expect_field "$deb" Architecture $arch
  # Computed from the library: its own architecture's C library, nothing else (in particular
  # not the biarch libc6-i386 of an amd64 machine).
  expect_field "$deb" Depends 'libc6 \(>= [0-9][0-9.]*\)'

  # Exactly these files, the library not executable, both links pointing down the SONAME chain.
  jni=./usr/lib/$triplet/jni
  listing=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $1, $6, $7, $8}' | sort)
  expected=$(sort <<END
-rw-r--r-- ./usr/share/doc/libpellusk-jni/changelog.gz  
-rw-r--r-- ./usr/share/doc/libpellusk-jni/copyright  
-rw-r--r-- $jni/libPellusk.so.$version  
lrwxrwxrwx $jni/libPellusk.so -> libPellusk.so.$major
lrwxrwxrwx $jni/libPellusk.so.$major -> libPellusk.so.$version
END
)
  [ "$listing" = "$expected" ] || fail "$arch contents:"$'\n'"$listing"$'\n'"expected:"$'\n'"$expected"

  changelog=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/libpellusk-jni/changelog.gz | zcat)
  [[ $changelog == "libpellusk-jni ($version) "* ]] || fail "$arch: changelog does not start with this version"
done
exit $status
