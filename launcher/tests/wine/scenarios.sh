#!/usr/bin/env bash
# End-to-end scenarios of the launcher under Wine, one per call: the real Velmoor.exe on an
# Xvfb display, played by the test driver winctl.exe, with a stand-in java.exe that records how
# it was started. Each scenario works in a folder of its own under the build tree (a file
# system with user xattrs, which Wine needs for the hidden attribute); the prefix, display and
# programs come from CTest through the environment. Usage: scenarios.sh SCENARIO
set -euo pipefail
here=$(dirname "$0")
source "$here/mounts.sh"
source "$here/loader.sh"
: "${VELMOOR_WINE_STATE:?}" "${VELMOOR_EXE:?}" "${VELMOOR_TEST_PROGRAMS:?}" "${VELMOOR_SCENARIOS:?}"
scenario=$1
export WINEPREFIX="$VELMOOR_WINE_STATE/prefix" WINEDEBUG=-all
use_wine_loader "$VELMOOR_WINE_STATE/bin"
export DISPLAY=":$(cat "$VELMOOR_WINE_STATE/display")"
work="$VELMOOR_SCENARIOS/$scenario"
install="$work/install" out="$work/driver.txt" record="$work/java-record.txt" drive_d="$work/drive-d"
program_files="$WINEPREFIX/drive_c/Program Files"
update_folder="$work/drive-i/Brantholm/Kelvanor/DevKit/lastest update"
launcher_exe=Velmoor.exe jar=Tarvio.jar
unmount_below "$work"
rm -rf "$work"
mkdir -p "$work"

# Cleanup steps, run in order when the scenario ends.
exit_actions=()
on_exit() {
    exit_actions+=("$1")
    trap 'for action in "${exit_actions[@]}"; do eval "$action" || true; done' EXIT
}

# The Windows name of a Unix path: / is drive Z:, and a scenario may map D: to drive-d.
winpath() {
    local path=$1 drive=Z:
    [[ $path == "$drive_d"/* ]] && path=${path#"$drive_d"} drive=D:
    echo "$drive${path//\//\\}"
}
export VELMOOR_JAVA_RECORD
VELMOOR_JAVA_RECORD=$(winpath "$record")

fail() {
    echo "FAIL [$scenario]: $*" >&2
    for file in "$out" "$record"; do [ -f "$file" ] && { echo "--- $file:"; cat "$file"; } >&2; done
    exit 1
}

# An install folder with the launcher, the jar and a runtime in its own jre\bin.
make_install() {
    mkdir -p "$install/jre/bin"
    cp "$VELMOOR_EXE" "$install/$launcher_exe"
    cp "$VELMOOR_TEST_PROGRAMS/java.exe" "$install/jre/bin/"
    echo "installed jar" >"$install/$jar"
}

put_java() {  # FOLDER [CONTENT]
    mkdir -p "$1"
    on_exit 'rm -rf "$program_files/Ostrel RFID" "$program_files/Ostrel RFID Tarvio"'
    if [ $# -gt 1 ]; then echo "$2" >"$1/java.exe"; else cp "$VELMOOR_TEST_PROGRAMS/java.exe" "$1/"; fi
}

# Runs the launcher from the install folder under the test driver with the given steps.
drive() {
    wine "$VELMOOR_TEST_PROGRAMS/winctl.exe" "$(winpath "$install")\\$launcher_exe" "$@" \
        >"$out" 2>>"$work/wine.log" </dev/null || fail "the driver failed"
}

expect() {  # LINE...: each a line of the driver's output
    for line in "$@"; do grep -qxF -- "$line" "$out" || fail "expected the line: $line"; done
}

expect_ms() {  # NAME LOW HIGH: a time the driver printed lies within [LOW, HIGH] ms
    local value
    value=$(sed -n "s/^$1: //p" "$out")
    [ -n "$value" ] && [ "$value" -ge "$2" ] && [ "$value" -le "$3" ] || fail "$1 is '$value', expected $2..$3"
}

expect_java() {  # STARTS [LINE...]: java started STARTS times in all, and recorded each LINE
    local starts=0
    [ -f "$record" ] && starts=$(grep -c '^command: ' "$record")
    [ "$starts" -eq "$1" ] || fail "expected $1 start(s) of java, saw $starts"
    shift
    for line in "$@"; do grep -qxF -- "$line" "$record" || fail "expected in the java record: $line"; done
}

java_command() {  # JAR: the command line java gets from the install's own runtime
    echo "command: \"$(winpath "$install")\\jre\\bin\\java.exe\" -jar \"$(winpath "$install")/$1\""
}

# A folder on a file system whose server has gone: its lookups wait until release_dead_drive,
# then fail. A FUSE mount that nobody serves does just that, with nothing but the kernel.
dead_drive() {  # FOLDER
    mkdir -p "$1"
    coproc DEAD {
        exec 3<>/dev/fuse && as_root mount -i -t fuse -o fd=3,rootmode=40000,user_id=0,group_id=0,allow_other \
            dead "$1" && echo mounted
        exec sleep infinity
    }
    on_exit 'release_dead_drive; unmount_below "$work"'
    local line
    dead_holder=$DEAD_PID
    read -r line <&"${DEAD[0]}" && [ "$line" = mounted ] || fail "could not mount a dead drive"
}
release_dead_drive() { kill "$dead_holder" 2>/dev/null; }

set_hidden() { setfattr -n user.DOSATTRIB -v '"0x2"' "$1"; }

# Moves this scenario onto an X display of its own, so that a screenshot holds its windows only.
use_own_display() {
    mkfifo "$work/display.fifo"
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -wr -nolisten tcp 3>"$work/display.fifo" \
        </dev/null >"$work/xvfb.log" 2>&1 &
    own_xvfb=$!
    on_exit 'kill "$own_xvfb"'
    read -r display <"$work/display.fifo"
    export DISPLAY=":$display"
}

# Drive I: of the shared prefix, the update folder's, points into this scenario's folder; D:, in
# the scenarios that want it, at drive-d, a tmpfs of the size given if any (mounted in the
# host's namespace: the wineserver opens the files). Scenarios that map them hold a lock on each.
map_drive_i() {
    mkdir -p "$update_folder"
    ln -sfn "$work/drive-i" "$WINEPREFIX/dosdevices/i:"
}
unmap_drive_i() { rm -f "$WINEPREFIX/dosdevices/i:"; }
map_drive_d() {
    mkdir -p "$drive_d"
    if [ $# -gt 0 ]; then as_root mount -t tmpfs -o "size=$1" velmoor-test "$drive_d"; fi
    on_exit 'unmount_below "$work"'
    ln -sfn "$drive_d" "$WINEPREFIX/dosdevices/d:"
}

# The installed jar from 2020, the published one "newer" (2024), "equal" or "older" (2019), of
# SIZE random bytes if given; with the changes file given as bytes for printf, if any.
publish() {  # newer|equal|older [SIZE]
    map_drive_i
    touch -d 2020-01-01 "$install/$jar"
    cp -p "$install/$jar" "$work/installed.jar"
    if [ $# -gt 1 ]; then head -c "$2" /dev/urandom; else echo "published jar"; fi >"$update_folder/$jar"
    case $1 in
        newer) touch -d 2024-01-01 "$update_folder/$jar" ;;
        equal) touch -r "$install/$jar" "$update_folder/$jar" ;;
        older) touch -d 2019-01-01 "$update_folder/$jar" ;;
    esac
}
changes() { printf "$1" >"$update_folder/TarvioChanges.txt"; }

expect_installed() {  # old|new
    local expected="$work/installed.jar"
    [ "$1" = new ] && expected="$update_folder/$jar"
    cmp -s "$install/$jar" "$expected" || fail "the installed jar is not the $1 one"
    ! ls "$install" | grep -q '\.tmp$' || fail "a temporary file was left: $(ls "$install")"
}

expect_update_failed() {  # the fixed text, then the system's description of what went wrong
    grep -q '^box: An error occured trying to update the application\\r\\n.' "$out" ||
        fail "no update error with a description"
}

source "$here/launch-scenarios.sh"
source "$here/update-scenarios.sh"
"scenario_$scenario"
echo "PASS [$scenario]"
