#!/usr/bin/env bash
# One end-to-end scenario of the launcher under Wine, played by winctl.exe, with a stand-in java.exe.
# Its folder is under the build tree: Wine needs user xattrs for the hidden attribute.
set -euo pipefail
here=$(dirname "$0")
source "$here/mounts.sh"
source "$here/loader.sh"
scenario=$1 state=${VELMOOR_WINE_STATE:?} programs=${VELMOOR_TEST_PROGRAMS:?}
export WINEPREFIX="$state/prefix" WINEDEBUG=-all DISPLAY=":$(cat "$state/display")"
use_wine_loader "$state/bin"
work="${VELMOOR_SCENARIOS:?}/$scenario"
install="$work/install" out="$work/driver.txt" record="$work/java-record.txt" drive_d="$work/drive-d"
program_files="$WINEPREFIX/drive_c/Program Files"
update_folder="$work/drive-i/Brantholm/Kelvanor/DevKit/lastest update"
launcher_exe=Velmoor.exe jar=Tarvio.jar
unmount_below "$work"
rm -rf "$work"
mkdir -p "$work"

exit_actions=()
on_exit() {  # ACTION: run when the scenario ends, after those given before it
    exit_actions+=("$1")
    trap 'for action in "${exit_actions[@]}"; do eval "$action" || true; done' EXIT
}

winpath() {  # UNIX_PATH: its Windows name; / is drive Z:, and drive-d may be D:
    local path=$1 drive=Z:
    [[ $path == "$drive_d"/* ]] && path=${path#"$drive_d"} drive=D:
    echo "$drive${path//\//\\}"
}
export VELMOOR_JAVA_RECORD
VELMOOR_JAVA_RECORD=$(winpath "$record")

fail() {
    echo "FAIL [$scenario]: $*" >&2
    for file in "$out" "$record"; do [ ! -f "$file" ] || { echo "--- $file:" && cat "$file"; } >&2; done
    [ ! -s "$work/wine.log" ] || { echo "--- the end of $work/wine.log:" && tail -n 20 "$work/wine.log"; } >&2
    exit 1
}

make_install() {  # the launcher, the jar, and a runtime in the install's own jre\bin
    mkdir -p "$install/jre/bin"
    cp "$VELMOOR_EXE" "$install/$launcher_exe"
    cp "$programs/java.exe" "$install/jre/bin/"
    echo "installed jar" >"$install/$jar"
}

put_java() {  # FOLDER [CONTENT]: a runtime, or a file of that content, under Program Files
    mkdir -p "$1"
    on_exit 'rm -rf "$program_files/Ostrel RFID" "$program_files/Ostrel RFID Tarvio"'
    if [ $# -gt 1 ]; then echo "$2" >"$1/java.exe"; else cp "$programs/java.exe" "$1/"; fi
}

drive() {  # STEP...: runs the launcher from the install folder under the test driver
    wine "$programs/winctl.exe" "$(winpath "$install")\\$launcher_exe" "$@" >"$out" 2>>"$work/wine.log" </dev/null ||
        fail "the driver failed (exit status $?) on: $*"
}

expect() {  # LINE...: each a line of the driver's output
    for line in "$@"; do grep -qxF -- "$line" "$out" || fail "expected the line: $line"; done
}

expect_ms() {  # NAME LOW HIGH: a time the driver printed lies within [LOW, HIGH] ms
    local value
    value=$(sed -n "s/^$1: //p" "$out" | tail -1)
    [ -n "$value" ] && [ "$value" -ge "$2" ] && [ "$value" -le "$3" ] || fail "$1 is '$value', expected $2..$3"
}

expect_java() {  # STARTS [LINE...]: java started STARTS times in all, and recorded each LINE
    local starts
    starts=$(grep -sc '^command: ' "$record" || true)
    [ "${starts:-0}" -eq "$1" ] || fail "expected $1 start(s) of java, saw ${starts:-0}"
    for line in "${@:2}"; do grep -qxF -- "$line" "$record" || fail "expected in the java record: $line"; done
}

managed_name() {  # the launcher under a name for which Wine hands its windows to a window manager
    launcher_exe=VelmoorWm.exe
    wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$launcher_exe\\X11 Driver" /v Managed /d Y /f \
        </dev/null >>"$work/wine.log" 2>&1
}

java_command() {  # JAR: the command line java gets from the install's own runtime
    echo "command: \"$(winpath "$install")\\jre\\bin\\java.exe\" -jar \"$(winpath "$install")/$1\""
}

# FOLDER: an unserved FUSE mount, where lookups wait until release_dead_drive, then fail.
dead_drive() {
    mkdir -p "$1"
    coproc DEAD {
        exec 3<>/dev/fuse && as_root mount -i -t fuse -o fd=3,rootmode=40000,user_id=0,group_id=0,allow_other \
            dead "$1" && echo mounted
        exec sleep infinity
    }
    dead_holder=$DEAD_PID
    on_exit 'release_dead_drive; unmount_below "$work"'
    local line
    read -r line <&"${DEAD[0]}" && [ "$line" = mounted ] || fail "could not mount a dead drive"
}
release_dead_drive() { kill "$dead_holder" 2>/dev/null; }

use_own_display() {  # so that a screenshot holds this scenario's windows only
    DISPLAY=":$(start_xvfb "$work")"
    on_exit 'kill "$(cat "$work/xvfb.pid")"'
}

map_drive_d() {  # the shared prefix's D: (and I:, by publish) points into this scenario's folder
    mkdir -p "$drive_d" && ln -sfn "$drive_d" "$WINEPREFIX/dosdevices/d:"
}

publish() {  # [SIZE|KIND]: an install with a jar from 2020, the published one from 2024
    make_install
    mkdir -p "$update_folder"
    ln -sfn "$work/drive-i" "$WINEPREFIX/dosdevices/i:"
    touch -d 2020-01-01 "$install/$jar"
    cp -p "$install/$jar" "$work/installed.jar"
    case "${1:-}" in
    [a-z]*)  # a real one of make-jar.py's KIND, made once per build; flip_at: a byte inside compressed data
        mkdir -p "$VELMOOR_JARS"
        flip_at=$("$here/../../demo/slowdrive/make-jar.py" "$1" "$VELMOOR_JARS/$1.jar")
        cp "$VELMOOR_JARS/$1.jar" "$work/published.jar" ;;
    *) write_jar "${1:-}" ;;
    esac
    touch -d 2024-01-01 "$work/published.jar"
    cp -p "$work/published.jar" "$update_folder/$jar"
}
write_jar() {  # [SIZE [JAR TEXT]]: a real jar that java could start, of a manifest and one more entry
    if [ -n "${3:-}" ]; then echo "$3"; elif [ -n "${1:-}" ]; then head -c "$1" /dev/urandom; else echo "published jar $RANDOM"; fi >"$work/published"
    python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: tarvio.Main\r\n\r\n")
    z.write(sys.argv[2], "data")' "${2:-$work/published.jar}" "$work/published"
}

# OPTION...: the update folder served from here on by the slow drive, shaped by the options.
slow_drive() {
    mv "$update_folder" "$work/served" && mkdir "$update_folder"
    coproc SLOW { exec "$VELMOOR_SLOWDRIVE" "$@" "$work/served" "$update_folder" -f 2>>"$work/slowdrive.log"; }
    slow_server=$SLOW_PID
    disown "$slow_server"  # killed on purpose, it is no news
    # A held read fails once the server has gone, so that nothing waits on it.
    on_exit 'kill -9 "$slow_server" 2>/dev/null; unmount_below "$work"'
    local line
    read -r line <&"${SLOW[0]}" && [ "$line" = ready ] || fail "could not mount the slow drive"
}

expect_installed() {  # old|new, and no temporary file left
    local expected="$work/installed.jar"
    [ "$1" = old ] || expected="$work/published.jar"
    cmp -s "$install/$jar" "$expected" || fail "the installed jar is not the $1 one"
    ! ls "$install" | grep -q '\.tmp$' || fail "a temporary file was left: $(ls "$install")"
}

expect_update_failed() {  # STARTS: the fixed text and the system's reason; java and the old jar
    grep -q '^box: An error occured trying to update the application\\r\\n.' "$out" ||
        fail "no update error with a description"
    expect_java "$1"
    expect_installed old
}

source "$here/launch-scenarios.sh"
source "$here/update-scenarios.sh"
source "$here/signature-scenarios.sh"
"scenario_$scenario"
echo "PASS [$scenario]"
