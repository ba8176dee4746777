#!/usr/bin/env bash
# Runs the launcher under Wine on a virtual X display against a sample install (with a
# stand-in java.exe) and saves screenshots into OUTPUT_DIR: splash.png, the splash window of
# a plain start, splash-144dpi.png and splash-192dpi.png, the same on screens of those
# resolutions, changes-dialog.png (and changes-dialog-144dpi.png), the dialog that offers
# a newer jar from the update folder with its changes file, and splash-copying.png, the splash
# while a 17 MB jar comes in from a slow update drive (slowdrive/, at 5 MB/s). It first says who
# signed the launcher, and checks the signature.
# Needs scripts/build.sh to have run.   Usage: [VELMOOR_WINE_ARCH=win64] launcher/demo/run-demo.sh OUTPUT_DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 OUTPUT_DIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/launcher/tests/wine/loader.sh"
mkdir -p "$1"
output=$(cd "$1" && pwd)
# VELMOOR_WINE_ARCH=win64 runs the x86_64 build under the 64-bit Wine loader, for hosts that
# cannot run i386 code; by default the i686 build runs under the 32-bit loader, signed as the
# build signs it for the kit.
if [ "${VELMOOR_WINE_ARCH:-win32}" = win64 ]; then
    windows_build="$root/build/mingw-x86_64/launcher"
    exe="$windows_build/Velmoor.exe"
else
    windows_build="$root/build/mingw-i686/launcher"
    signed="$root/build/linux-x86_64/signing"
    exe="$signed/Velmoor.exe"
fi
programs="$windows_build/tests/wine/programs"
slowdrive="$root/build/linux-x86_64/launcher/demo/slowdrive/slowdrive"
for file in "$exe" "$programs/java.exe" "$programs/winctl.exe" "$slowdrive"; do
    [ -f "$file" ] || { echo "missing $file: run scripts/build.sh first" >&2; exit 1; }
done
if [ -n "${signed:-}" ]; then
    verdict=$(osslsigncode verify -CAfile "$signed/verify-ca.pem" -in "$exe" | grep '^Signature verification') ||
        { echo "the signature of $exe does not verify" >&2; exit 1; }
    echo "Velmoor.exe is signed with $(cat "$signed/signed-by.txt") (osslsigncode verify: ${verdict#*: })"
else
    echo "Velmoor.exe is the x86_64 build, a test vehicle: not signed"
fi

work=$(mktemp -d "$root/build/velmoor-demo.XXXXXX")
# The prefix and display are made as for the Wine scenarios; nothing is mounted below "none".
prefix_sh="$root/launcher/tests/wine/prefix.sh"
update="$work/drive-i/Brantholm/Kelvanor/DevKit/lastest update"
# The slow drive goes first: gone, it holds up nothing of what follows.
trap 'kill -9 ${slow_pid:-} 2>/dev/null; fusermount3 -uz "$update" 2>/dev/null
      "$prefix_sh" cleanup "$work/state" "$work/none" 2>/dev/null; rm -rf "$work"' EXIT
echo "Making a Wine prefix (about 10 s)..."
"$prefix_sh" setup "$work/state" "$work/none" >/dev/null
export DISPLAY=":$(cat "$work/state/display")" WINEPREFIX="$work/state/prefix" WINEDEBUG=-all
use_wine_loader "$work/bin"
winpath() { local path=${1//\//\\}; echo "Z:$path"; }

install="$work/Tarvio"
mkdir -p "$install/jre/bin"
cp "$exe" "$install/Velmoor.exe"
cp "$programs/java.exe" "$install/jre/bin/java.exe"
echo "sample application" >"$install/Tarvio.jar"
touch -d 2024-01-01 "$install/Tarvio.jar"
export VELMOOR_JAVA_RECORD
VELMOOR_JAVA_RECORD=$(winpath "$work/java-record.txt")

# Runs the launcher under the test driver with the given steps, echoing what the driver reports.
drive() {
    wine "$programs/winctl.exe" "$(winpath "$install")\\Velmoor.exe" "$@" </dev/null 2>>"$work/wine.log" |
        sed 's/^/  /'
}

# The driver's step that saves the screen's drawn part as FILE.
shoot() {
    echo "run=import -window root '$work/screen.png' && convert '$work/screen.png' -trim +repage '$output/$1'"
}

# Wine takes the screen's resolution from the prefix's registry when a program starts.
set_dpi() {
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
        </dev/null >>"$work/wine.log" 2>&1
}

echo "Starting the launcher with no update folder..."
drive splash java "$(shoot splash.png)" closed
echo "Saved $output/splash.png"
for dpi in 144 192; do
    echo "Starting it again on a screen of $dpi dpi..."
    set_dpi $dpi
    drive splash java "$(shoot splash-${dpi}dpi.png)"
    echo "Saved $output/splash-${dpi}dpi.png"
done
set_dpi 96

echo "Publishing a newer jar with a changes file on drive I: and starting again..."
mkdir -p "$update"
# Real jars, made once: the launcher offers only a complete one.
mkdir -p "$root/build/demo-jars" "$work/served"
"$root/launcher/demo/slowdrive/make-jar.py" small "$root/build/demo-jars/small.jar" >/dev/null
cp "$root/build/demo-jars/small.jar" "$update/Tarvio.jar"
touch -d 2025-06-01 "$update/Tarvio.jar"
printf '%s\r\n' "Version 4.2" "- Reads tags twice as fast" "- New serial port settings page" \
    >"$update/TarvioChanges.txt"
ln -sfn "$work/drive-i" "$WINEPREFIX/dosdevices/i:"
# The dialog is shot once the splash window has closed, so that it is alone on the screen.
drive splash dialog closed "$(shoot changes-dialog.png)" click=Upgrade box=OK java
echo "Saved $output/changes-dialog.png"
echo "Once more on a screen of 144 dpi, skipping the upgrade..."
set_dpi 144
touch -d 2026-01-01 "$update/Tarvio.jar"
drive splash dialog closed "$(shoot changes-dialog-144dpi.png)" "click=Skip Upgrade" java
set_dpi 96
echo "Saved $output/changes-dialog-144dpi.png"

echo "Publishing a 17 MB jar on a slow update drive (5 MB/s), and upgrading..."
"$root/launcher/demo/slowdrive/make-jar.py" large "$root/build/demo-jars/large.jar" >/dev/null
cp "$root/build/demo-jars/large.jar" "$work/served/Tarvio.jar"
touch -d 2026-06-01 "$work/served/Tarvio.jar"
rm -r "$update" && mkdir "$update"
coproc SLOW { exec "$slowdrive" --rate=5000000 "$work/served" "$update" -f 2>>"$work/slowdrive.log"; }
slow_pid=$SLOW_PID
disown "$slow_pid"  # killed on purpose at the end, it is no news
read -r ready <&"${SLOW[0]}" && [ "$ready" = ready ] || { echo "the slow drive did not mount" >&2; exit 1; }
# The strip shows the copy's progress after about a second of it.
shot=$(shoot splash-copying.png)
drive splash box=Yes "run=sleep 2 && ${shot#run=}" box=OK java
echo "Saved $output/splash-copying.png"
echo "The launcher started:"
sed -n 's/^command: /  /p' "$work/java-record.txt"
