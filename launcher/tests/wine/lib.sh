# Shared by the launcher's Wine scenarios. The prefix, display and built programs come from
# CTest through the environment; each scenario works in a folder of its own under the build
# tree (a file system with user xattrs, which Wine needs for the hidden attribute).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/driver_session.sh"
source "$(dirname "${BASH_SOURCE[0]}")/mounts.sh"
source "$(dirname "${BASH_SOURCE[0]}")/loader.sh"

: "${VELMOOR_WINE_STATE:?}" "${VELMOOR_EXE:?}" "${VELMOOR_TEST_PROGRAMS:?}" "${VELMOOR_SCENARIOS:?}"

scenario=$1
export WINEPREFIX="$VELMOOR_WINE_STATE/prefix" WINEDEBUG=-all
use_wine_loader "$VELMOOR_WINE_STATE/bin"
export DISPLAY=":$(cat "$VELMOOR_WINE_STATE/display")"
work="$VELMOOR_SCENARIOS/$scenario"
install="$work/install"
driver_output="$work/driver.txt"
program_files="$WINEPREFIX/drive_c/Program Files"
java2_dir="$program_files/Ostrel RFID/Tarvio/jre/bin"
java3_dir="$program_files/Ostrel RFID Tarvio/jre/bin"
drive_d="$work/drive-d"
# The launcher's file name in the install folder; Wine keeps settings per program name.
launcher_exe=Velmoor.exe

# Every scenario may leave a cleanup step; they run in order when the script ends.
exit_actions=()
on_exit() {
    exit_actions+=("$1")
    trap 'for action in "${exit_actions[@]}"; do eval "$action" || true; done' EXIT
}

unmount_below "$work"
rm -rf "$work"
mkdir -p "$work"

# The Windows name of a Unix path: Wine maps / to drive Z:, and a scenario may map D: to its
# folder drive-d.
winpath() {
    local path=$1 drive=Z:
    if [[ $path == "$drive_d"/* ]]; then
        path=${path#"$drive_d"}
        drive=D:
    fi
    path=${path//\//\\}
    echo "$drive$path"
}

export VELMOOR_JAVA_RECORD
VELMOOR_JAVA_RECORD=$(winpath "$work/java-record.txt")

fail() {
    echo "FAIL [$scenario]: $*" >&2
    if [ -f "$driver_output" ]; then
        echo "--- driver output:" >&2
        cat "$driver_output" >&2
    fi
    if [ -f "$work/java-record.txt" ]; then
        echo "--- java record:" >&2
        cat "$work/java-record.txt" >&2
    fi
    exit 1
}

# An install folder with the launcher, Tarvio.jar and a runtime in its own jre\bin.
make_install() {
    mkdir -p "$install/jre/bin"
    cp "$VELMOOR_EXE" "$install/$launcher_exe"
    cp "$VELMOOR_TEST_PROGRAMS/java.exe" "$install/jre/bin/java.exe"
    echo "installed jar" >"$install/Tarvio.jar"
}

put_java() {
    mkdir -p "$1"
    cp "$VELMOOR_TEST_PROGRAMS/java.exe" "$1/java.exe"
}

remove_program_files_javas() {
    rm -rf "$program_files/Ostrel RFID" "$program_files/Ostrel RFID Tarvio"
}

set_hidden() {
    setfattr -n user.DOSATTRIB -v '"0x2"' "$1"
}

# Runs the launcher from the install folder under the test driver with the given steps.
drive() {
    local status=0
    wine "$VELMOOR_TEST_PROGRAMS/winctl.exe" "$(winpath "$install")\\$launcher_exe" "$@" \
        >"$driver_output" 2>>"$work/wine.log" </dev/null || status=$?
    [ "$status" -eq 0 ] || fail "the driver failed ($status)"
    grep -q '^exit-ms: ' "$driver_output" || fail "the launcher did not end"
}

expect_line() {
    grep -qxF -- "$1" "$driver_output" || fail "expected the line: $1"
}

# Checks that a timing the driver printed lies in [low, high] ms.
expect_ms() {
    local value
    value=$(sed -n "s/^$1: //p" "$driver_output")
    [ -n "$value" ] || fail "no $1 reported"
    [ "$value" -ge "$2" ] && [ "$value" -le "$3" ] || fail "$1 is $value, expected $2..$3"
}

java_starts() {
    if [ -f "$work/java-record.txt" ]; then grep -c '^command: ' "$work/java-record.txt"; else echo 0; fi
}

expect_java_starts() {
    [ "$(java_starts)" -eq "$1" ] || fail "expected $1 start(s) of java, saw $(java_starts)"
}

expect_record() {
    grep -qxF -- "$1" "$work/java-record.txt" || fail "expected in the java record: $1"
}

# Moves this scenario onto an X display of its own, so that a screenshot holds its windows
# only and none of the scenarios running beside it.
use_own_display() {
    mkfifo "$work/display.fifo"
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -wr -nolisten tcp \
        3>"$work/display.fifo" </dev/null >"$work/xvfb.log" 2>&1 &
    own_xvfb=$!
    on_exit 'kill "$own_xvfb" 2>/dev/null'
    local display
    read -r display <"$work/display.fifo"
    export DISPLAY=":$display"
}

# Like drive, and runs the shell command ACTION as soon as the driver prints a line that
# starts with LINE; then sends a line to the driver, for steps that wait for "input".
# Usage: drive_with_action LINE ACTION STEP...
drive_with_action() {
    action_after=$1 action=$2 action_done=0
    shift 2
    : >"$driver_output"
    driver_session on_driver_line "$work/wine.log" "$VELMOOR_TEST_PROGRAMS/winctl.exe" \
        "$(winpath "$install")\\$launcher_exe" "$@" || fail "the driver failed"
    [ $action_done -eq 1 ] || fail "never saw: $action_after"
    grep -q '^exit-ms: ' "$driver_output" || fail "the launcher did not end"
}

on_driver_line() {
    echo "$1" >>"$driver_output"
    [[ $action_done -eq 0 && "$1" == "$action_after"* ]] || return 1
    eval "$action" || fail "could not: $action"
    action_done=1
}

# "R G B" of one pixel of an image, 0..255 each.
pixel() {
    convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- |
        sed -n 's/.*#\([0-9A-Fa-f]\{2\}\)\([0-9A-Fa-f]\{2\}\)\([0-9A-Fa-f]\{2\}\).*/\1 \2 \3/p' |
        { read -r r g b; echo $((16#$r)) $((16#$g)) $((16#$b)); }
}

# "WIDTH HEIGHT LEFT TOP" of what differs from the white background of a screenshot.
drawn_area() {
    convert "$1" -trim -format '%w %h %X %Y\n' info: | tr -d '+'
}

# Whether the colour #RRGGBB occurs in the given area of an image.
has_colour() {
    convert "$1" -crop "$2" -depth 8 -unique-colors txt:- | grep -qi "#$3"
}

# The update folder on drive I:, which points into this scenario's folder. Scenarios that map
# I: hold the prefix's lock on it.
update_folder="$work/drive-i/Brantholm/Kelvanor/DevKit/lastest update"
remote_jar="$update_folder/Tarvio.jar"
changes_file="$update_folder/TarvioChanges.txt"

map_drive_i() {
    mkdir -p "$update_folder"
    ln -sfn "$work/drive-i" "$WINEPREFIX/dosdevices/i:"
}

unmap_drive_i() {
    rm -f "$WINEPREFIX/dosdevices/i:"
}

# Drive D: of the shared prefix, pointing at this scenario's folder drive-d. Given a size, that
# folder is a tmpfs of its own, so that a copy onto D: can run out of space. It is mounted in
# the host's namespace because the wineserver, not the launcher, opens the files. Scenarios
# that map D: hold the prefix's lock on it.
map_drive_d() {
    mkdir -p "$drive_d"
    if [ $# -gt 0 ]; then
        as_root mount -t tmpfs -o "size=$1" velmoor-test "$drive_d"
        on_exit 'unmount_below "$work"'
    fi
    ln -sfn "$drive_d" "$WINEPREFIX/dosdevices/d:"
}

# An installed jar from 2020 and a published one: "newer" (2024), "equal" or "older" (2019),
# of SIZE random bytes if given.
publish_jar() {
    touch -d 2020-01-01 "$install/Tarvio.jar"
    if [ $# -gt 1 ]; then
        head -c "$2" /dev/urandom >"$remote_jar"
    else
        echo "published jar" >"$remote_jar"
    fi
    case $1 in
        newer) touch -d 2024-01-01 "$remote_jar" ;;
        equal) touch -r "$install/Tarvio.jar" "$remote_jar" ;;
        older) touch -d 2019-01-01 "$remote_jar" ;;
    esac
    cp -p "$install/Tarvio.jar" "$work/installed.jar"
}

expect_installed() {  # old|new
    local expected="$work/installed.jar"
    [ "$1" = new ] && expected=$remote_jar
    cmp -s "$install/Tarvio.jar" "$expected" || fail "the installed jar is not the $1 one"
    ! ls "$install" | grep -q '\.tmp$' || fail "a temporary file was left: $(ls "$install")"
}
