#!/usr/bin/env bash
# version_flows.sh <source tree> <scratch folder> <library version> <launcher version>
# The versions are written once, in the top CMakeLists.txt: the copies written by hand (the package
# changelog, the file names the documents give) say them; and a copy of the sources with other
# versions written there alone (and a changelog entry) builds artefacts that all carry the new
# ones: the library's file name, SONAME, banner, SerGetLibVer and package, the launcher's version
# resource, manifest and label, and the kit's name.
set -euo pipefail
source=$(realpath "$1") scratch=$2 library=$3 launcher=$4
here=$(realpath "$(dirname "$0")")
status=0
fail() { echo "FAILED: $*"; status=1; }

# --- The copies written by hand --------------------------------------------------------------
head -1 "$source/dist/debian/changelog" | grep -q "^libpellusk-jni ($library) " ||
  fail "dist/debian/changelog does not start with $library: $(head -1 "$source/dist/debian/changelog")"
for doc in "$source"/README.md "$source"/docs/*.md; do
  while read -r name; do
    case $name in
      libpellusk-jni_"$library"_*|Velmoor-"$launcher"-*) ;;
      *) fail "${doc#"$source"/} names $name, not of versions $library and $launcher" ;;
    esac
  done < <(grep -oE 'libpellusk-jni_[0-9][0-9.]*_|Velmoor-[0-9][0-9.]*-' "$doc" | sort -u)
done

# --- Other versions, written in the one place alone -------------------------------------------
new_library=5.12.3 new_launcher=6.10
rm -rf "$scratch" && mkdir -p "$scratch/src"
scratch=$(realpath "$scratch")
tar -C "$source" --exclude=./build --exclude=./.git -cf - . | tar -C "$scratch/src" -xf -
sed -i -e "s/^project(Tarvio VERSION $library /project(Tarvio VERSION $new_library /" \
  -e "s/^set(VELMOOR_VERSION $launcher)/set(VELMOOR_VERSION $new_launcher)/" "$scratch/src/CMakeLists.txt"
[ "$(grep -cE "^(project\(Tarvio VERSION $new_library |set\(VELMOOR_VERSION $new_launcher\))" "$scratch/src/CMakeLists.txt")" = 2 ] ||
  { echo "FAILED: the top CMakeLists.txt does not hold the versions $library and $launcher in its one place"; exit 1; }
{ printf 'libpellusk-jni (%s) unstable; urgency=medium\n\n  * A release of other versions.\n\n -- %s\n\n' \
    "$new_library" "Ostrel RFID Tarvio team <tarvio@ostrel-rfid.example>  $(date -R)"
  cat "$source/dist/debian/changelog"; } >"$scratch/src/dist/debian/changelog"

configure_and_build() {  # toolchain build type target...
  local tree=$scratch/$1
  cmake -S "$scratch/src" -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$scratch/src/cmake/toolchains/$1.cmake" \
    -DCMAKE_BUILD_TYPE="$2" >"$tree.log" 2>&1 && cmake --build "$tree" -j 2 --target "${@:3}" >>"$tree.log" 2>&1 ||
    { echo "FAILED: the $1 build of the copy:"; tail -30 "$tree.log"; exit 1; }
}

# The library and its package (the i386 one, as shipped).
configure_and_build linux-i386 RelWithDebInfo Pellusk pellusk_deb_docs
(cd "$scratch/linux-i386" && cpack --config CPackConfig.cmake >cpack.log 2>&1) ||
  { echo "FAILED: cpack:"; tail -20 "$scratch/linux-i386/cpack.log"; exit 1; }
lib=$scratch/linux-i386/seriallib/libPellusk.so.$new_library
[ -f "$lib" ] || fail "no $lib"
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libPellusk.so.${new_library%%.*}" ] || fail "SONAME $soname"
grep -qx "kdxLuxArm ${new_library%.*}" < <(strings "$lib") || fail "the banner does not say kdxLuxArm ${new_library%.*}"
# SerGetLibVer's value, read from verLib in the unstripped library.
read -r address size < <(nm -S "$lib" | awk '$4 == "verLib" {print $1, $2}')
word=$(objdump -s -j .rodata --start-address=0x$address --stop-address=$((0x$address + 0x$size)) "$lib" |
  awk '/^ [0-9a-f]+ / {print $2; exit}')
major=${new_library%%.*} minor=${new_library#*.} minor=${minor%%.*}
[ "$word" = "$(printf '%02x%02x%02x%02x' $((minor & 255)) $((minor >> 8)) $((major & 255)) $((major >> 8)))" ] ||
  fail "verLib is $word (little-endian), not $major << 16 | $minor"
"$here/check_debs.sh" "$new_library" "$scratch"/linux-i386/cpack/libpellusk-jni_"$new_library"_i386.deb ||
  fail "the package of the copy"

# The launcher, and the name its kit would get.
configure_and_build mingw-i686 MinSizeRel Velmoor
"$here/../../launcher/tests/check-executable.py" "$scratch/mingw-i686/launcher/Velmoor.exe" "$new_launcher" ||
  fail "the launcher of the copy"
grep -qx "set(VELMOOR_VERSION $new_launcher)" "$scratch/mingw-i686/VelmoorKit.cmake" || fail "the kit's version"
grep -q "CPACK_PACKAGE_FILE_NAME \"Velmoor-$new_launcher-kit\"" "$scratch/mingw-i686/CPackConfig.cmake" ||
  fail "the kit's name"

[ $status != 0 ] || { echo "versions $new_library and $new_launcher, written in the one place, reached every artefact"; rm -rf "$scratch"; }
exit $status
