#!/usr/bin/env bash
# Runs the launcher under Wine on a virtual X display against a sample install (with a
# stand-in java.exe) and saves a screenshot of its splash window into OUTPUT_DIR.
# Needs scripts/build.sh to have run.   Usage: launcher/demo/run-demo.sh OUTPUT_DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 OUTPUT_DIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$1"
output=$(cd "$1" && pwd)
windows_build="$root/build/mingw-i686/launcher"
exe="$windows_build/Velmoor.exe"
programs="$windows_build/tests/wine/programs"
for file in "$exe" "$programs/java.exe" "$programs/winctl.exe"; do
    [ -f "$file" ] || { echo "missing $file: run scripts/build.sh first" >&2; exit 1; }
done

work=$(mktemp -d "$root/build/velmoor-demo.XXXXXX")
xvfb_pid=""
cleanup() {
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/display.fifo"
setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -wr -nolisten tcp \
    3>"$work/display.fifo" </dev/null >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r display <"$work/display.fifo"
export DISPLAY=":$display" WINEPREFIX="$work/prefix" WINEDEBUG=-all
winpath() { local path=${1//\//\\}; echo "Z:$path"; }

echo "Making a Wine prefix (about 10 s)..."
mkdir -p "$WINEPREFIX"
setsid wineserver -p </dev/null >>"$work/wine.log" 2>&1
wineboot -i </dev/null >>"$work/wine.log" 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >>"$work/wine.log" 2>&1

install="$work/Tarvio"
mkdir -p "$install/jre/bin"
cp "$exe" "$install/Velmoor.exe"
cp "$programs/java.exe" "$install/jre/bin/java.exe"
echo "sample application" >"$install/Tarvio.jar"
export VELMOOR_JAVA_RECORD
VELMOOR_JAVA_RECORD=$(winpath "$work/java-record.txt")

# The driver prints the splash window's place and size, then that java.exe has started; the
# splash window stays about 5 s after that, time enough for the screenshot.
echo "Running the launcher..."
splash=""
coproc DRIVER {
    wine "$programs/winctl.exe" "$(winpath "$install")\\Velmoor.exe" splash java closed \
        2>>"$work/wine.log" </dev/null
}
driver_pid=$DRIVER_PID
while IFS= read -r line <&"${DRIVER[0]}"; do
    echo "  $line"
    case $line in
        "splash: "*) splash=${line#splash: } ;;
        "java: started")
            read -r left top width height <<<"$splash"
            import -window root -crop "${width}x${height}+${left}+${top}" +repage \
                "$output/splash.png"
            ;;
    esac
done
wait "$driver_pid"
echo "The launcher started: $(sed -n 's/^command: //p' "$work/java-record.txt")"
echo "Saved $output/splash.png"
