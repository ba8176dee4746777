#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: when every package is present already it changes nothing.
set -euo pipefail

packages=(
  cmake ninja-build pkg-config git
  gcc g++ gcc-multilib g++-multilib clang libclang-rt-14-dev clang-format
  libgtest-dev googletest
  openjdk-17-jdk-headless:amd64 openjdk-17-jdk-headless:i386
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb xauth x11-utils imagemagick xdotool openbox
  socat attr fuse3 libfuse3-dev inotify-tools
  zlib1g-dev libz-mingw-w64-dev libssl-dev
  libjssc-java
  dpkg-dev lintian binutils util-linux unzip
  osslsigncode openssl libengine-pkcs11-openssl softhsm2 faketime
  qemu-system-x86 cpio busybox-static python3
)

missing=()
for p in "${packages[@]}"; do
  name=${p%%:*}
  arch=${p#*:}; [ "$arch" = "$p" ] && arch=""
  if [ -n "$arch" ]; then
    q="$name:$arch"
  else
    q="$name"
  fi
  status=$(dpkg-query -W -f='${db:Status-Status}' "$q" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
else
  need_i386=0
fi

if [ ${#missing[@]} -eq 0 ] && [ $need_i386 -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

echo "setup: installing ${missing[*]}" >&2
if [ $need_i386 -eq 1 ]; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
