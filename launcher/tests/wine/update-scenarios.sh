#!/usr/bin/env bash
# End-to-end scenarios of the update check, the update and the changes dialog, one per call.
# Each maps drive I: of the shared prefix to its own update folder.
# Usage: update-scenarios.sh SCENARIO
source "$(dirname "$0")/lib.sh"

# The failure box, with the system's own description of what went wrong after the fixed text.
expect_update_failed() {
    local prefix='box: An error occured trying to update the application\r\n'
    grep -q "^${prefix//\\/\\\\}." "$driver_output" || fail "no update error with a description"
}

expect_launched() {  # JAR_NAME
    expect_java_starts 1
    expect_record "command: \"$(winpath "$install")\\jre\\bin\\java.exe\" -jar \"$(winpath "$install")/$1\""
}

scenario_drive_not_mapped() {
    make_install
    unmap_drive_i
    drive java
    expect_launched Tarvio.jar
}

# The update folder's drive no longer answers (a mapped drive whose server has gone): the folder
# below the drive's root lies on a file system that holds every lookup back. The splash window
# pulses on, java starts once the wait for the folder has run out, and then the server comes
# back with a newer jar: the lookup held back completes, but the launcher has decided, so no
# offer and no copy follow, and the installed jar is as it was.
scenario_drive_stalled() {
    make_install
    cp -p "$install/Tarvio.jar" "$work/installed.jar"
    mkdir -p "$work/drive-i" "$work/stalled"
    coproc STALL { exec "$VELMOOR_STALLFS" "$work/stalled" 2>>"$work/stallfs.log"; }
    on_exit 'kill "$STALL_PID"; wait "$STALL_PID"'
    local line
    read -r line <&"${STALL[0]}" && [ "$line" = mounted ] || fail "the stalled file system did not mount"
    ln -s "$work/stalled" "$work/drive-i/Brantholm"
    ln -sfn "$work/drive-i" "$WINEPREFIX/dosdevices/i:"
    drive_with_action "java: started" 'kill -USR1 "$STALL_PID"' splash java closed
    # 2 s of waiting from the first tick, plus a tick on either side.
    expect_ms java-ms 1900 2400
    local changes
    changes=$(sed -n 's/^strip-changes: //p' "$driver_output")
    [ "${changes:-0}" -ge 15 ] || fail "the strip changed colour ${changes:-0} times while java was awaited"
    expect_ms strip-still-ms 0 400
    expect_ms exit-ms 0 500
    read -r -t 5 line <&"${STALL[0]}" && [ "$line" = "stalled: Kelvanor" ] ||
        fail "the update folder was never looked up"
    while [ "$line" != "answered: Tarvio.jar" ]; do
        read -r -t 5 line <&"${STALL[0]}" || fail "the lookup held back did not complete"
    done
    expect_launched Tarvio.jar
    expect_installed old
}

scenario_not_newer() {
    make_install
    map_drive_i
    publish_jar equal
    drive java
    publish_jar older
    drive java
    expect_java_starts 2
    expect_installed old
}

scenario_newer_yes_then_up_to_date() {
    make_install
    map_drive_i
    publish_jar newer
    drive box=Yes box=OK java
    expect_line 'box: An update is available for this application\r\nDo you want to install this update now ?'
    expect_line "box: Application Updated !"
    expect_launched Tarvio.jar
    expect_installed new
    # The copy kept the published jar's time, so the next start offers nothing.
    drive java
    expect_java_starts 2
}

# A second launcher, started while the first asks, brings the first's question to the front
# and ends: one question, one start of java.
scenario_newer_no() {
    make_install
    map_drive_i
    publish_jar newer
    drive box second box=No java
    expect_ms second-ms 0 3000
    expect_line "second-front: #32770 first"
    expect_launched Tarvio.jar
    expect_installed old
}

scenario_hidden_changes_file() {
    make_install
    map_drive_i
    publish_jar newer
    echo "hidden changes" >"$changes_file"
    set_hidden "$changes_file"
    drive box=No java
    expect_line 'box: An update is available for this application\r\nDo you want to install this update now ?'
    expect_launched Tarvio.jar
}

scenario_other_jar_name() {
    make_install
    mv "$install/Tarvio.jar" "$install/Other.jar"
    map_drive_i
    echo "published" >"$update_folder/Other.jar"
    touch -d 2020-01-01 "$install/Other.jar"
    touch -d 2024-01-01 "$update_folder/Other.jar"
    drive box=No java
    expect_launched Other.jar
}

# Upgrade pressed after the splash window has closed itself; the dialog is screenshot alone.
scenario_dialog_upgrade_after_splash() {
    make_install
    map_drive_i
    publish_jar newer
    printf 'A\r\nB\r\n' >"$changes_file"
    use_own_display
    drive_with_action "closed-ms:" "import -window root \"$work/dialog.png\"" \
        splash dialog closed input click=Upgrade box=OK java
    expect_line 'dialog: \r\nA\r\nB'
    expect_line "box: Application Updated !"
    expect_launched Tarvio.jar
    expect_installed new

    local left top width height
    read -r left top width height < <(sed -n 's/^dialog-client: //p' "$driver_output")
    # 7785 x 4515 twips at 96 dpi.
    [ "$width $height" = "519 301" ] || fail "the dialog's client area is $width x $height"
    local area
    read -r -a area < <(drawn_area "$work/dialog.png")
    [ $((area[0] - width)) -ge 0 ] && [ $((area[0] - width)) -le 10 ] ||
        fail "the dialog is ${area[0]} wide on the screenshot, for a client area of $width"
    [ "$(pixel "$work/dialog.png" $((left + 5)) $((top + 295)))" = "0 0 0" ] ||
        fail "the dialog's background is not black"
    has_colour "$work/dialog.png" "273x17+$((left + 88))+$((top + 8))" 00C000 ||
        fail "no green text in the first label"
    # The third label reaches into the text box, whose top border runs on at 1200 twips.
    ! has_colour "$work/dialog.png" "280x1+$((left + 89))+$((top + 80))" 000000 ||
        fail "the third label wipes the text box's top border"
}

# Skip Upgrade while the splash window is open: the splash window starts its count again.
scenario_dialog_skip_restarts_splash() {
    make_install
    map_drive_i
    publish_jar newer
    printf 'A\nB\n' >"$changes_file"
    drive splash "dialog=Skip Upgrade" java closed
    expect_line 'dialog: \r\nA\r\nB'
    expect_launched Tarvio.jar
    expect_installed old
    expect_ms closed-ms 4800 6500
}

# Holds the installed jar open without sharing from another Wine program, as a running copy
# of the application would, until release_installed_jar.
hold_installed_jar() {
    coproc HOLD {
        wine "$VELMOOR_TEST_PROGRAMS/holdopen.exe" "$(winpath "$install")\\Tarvio.jar" \
            2>>"$work/wine.log"
    }
    local held
    read -r held <&"${HOLD[0]}" || true
    [ "$held" = held ] || fail "could not hold the installed jar open"
}

release_installed_jar() {
    echo go >&"${HOLD[1]}"
    wait "$HOLD_PID" || true
}

scenario_locked_jar() {
    make_install
    map_drive_i
    publish_jar newer
    hold_installed_jar
    drive box=Yes box=OK java
    release_installed_jar
    expect_update_failed
    expect_launched Tarvio.jar
    expect_installed old
}

scenario_locked_jar_dialog() {
    make_install
    map_drive_i
    publish_jar newer
    echo "changes" >"$changes_file"
    hold_installed_jar
    drive dialog=Upgrade box=OK java
    release_installed_jar
    expect_update_failed
    expect_launched Tarvio.jar
    expect_installed old
}

scenario_remote_gone_before_upgrade() {
    make_install
    map_drive_i
    publish_jar newer
    echo "changes" >"$changes_file"
    drive_with_action "dialog-client:" "rm \"$remote_jar\"" dialog input click=Upgrade box=OK java
    expect_update_failed
    expect_launched Tarvio.jar
    expect_installed old
}

# The drive of the update folder goes away while the dialog waits for the user.
scenario_drive_gone_before_upgrade() {
    make_install
    map_drive_i
    publish_jar newer
    echo "changes" >"$changes_file"
    drive_with_action "dialog-client:" unmap_drive_i dialog input click=Upgrade box=OK java
    expect_update_failed
    expect_launched Tarvio.jar
    expect_installed old
}

# The install folder on a drive with a few hundred KB free: the copy of a 4 MB jar runs out of
# space part way.
scenario_disk_full() {
    map_drive_d 2M
    install="$drive_d/Tarvio"
    make_install
    local free
    free=$(df --output=avail -B1 "$drive_d" | tail -1)
    head -c $((free - 300 * 1024)) /dev/zero >"$drive_d/filler"
    map_drive_i
    publish_jar newer 4M
    drive box=Yes box=OK java
    expect_update_failed
    expect_launched Tarvio.jar
    expect_installed old
}

# A 5 MB changes file: the dialog opens within a second of the update check with the first
# lines, and goes on to hold the whole text, far past the text box's default 32K characters.
# Wine's text box lays the text out slowly enough that the whole of it at once took seconds.
scenario_long_changes() {
    make_install
    map_drive_i
    publish_jar newer
    seq 80000 | awk '{ printf "Change %05d: the quick brown fox jumps over the lazy dog again\r\n", $1 }' \
        >"$changes_file"
    printf 'The last line' >>"$changes_file"
    # Every line break is CR LF already; the dialog puts one more before the first line.
    local length=$(($(stat -c %s "$changes_file") + 2))
    drive splash dialog "filled=$length" "click=Skip Upgrade" java
    expect_ms dialog-ms 0 1000
    expect_line "filled-length: $length"
    expect_line 'filled-tail: quick brown fox jumps over the lazy dog again\r\nThe last line'
    # The parts added later did not move the view from the first lines.
    expect_line 'filled-top-line: 0'
    expect_launched Tarvio.jar
}

# The changes file as Notepad saves it (UTF-16 either way round, UTF-8 with or without a mark)
# and in the ANSI code page (Wine's default 1252 here), one start each, each dialog left
# another way: Escape and the close box skip the upgrade as its button does. First a file that
# says it is UTF-8 and is not, with NULs and every line end: nothing after a NUL is lost, and
# what cannot be decoded shows as U+FFFD.
scenario_changes_encodings() {
    make_install
    map_drive_i
    publish_jar newer
    local bad=$'\xef\xbf\xbd' undecodable sample='Ünïcode €\r\nB' shown='\r\nÜnïcode €\r\nB'
    undecodable=$(printf "$bad%.0s" {128..255})
    {
        printf '\xef\xbb\xbfbefore\0after\r\n'
        printf "$(printf '\\x%x' {128..255})"
        printf '\rA\nB\r\r\n\xc3\x9cn\xc3\xafcode\n\0\0end'
    } >"$changes_file"
    read_as "Skip Upgrade" "\\r\\nbefore${bad}after\\r\\n$undecodable\\r\\nA\\r\\nB\\r\\n\\r\\nÜnïcode\\r\\n$bad${bad}end"
    { printf '\xff\xfe' && printf "$sample" | iconv -t UTF-16LE; } >"$changes_file"
    read_as Escape "$shown"
    { printf '\xfe\xff' && printf "$sample" | iconv -t UTF-16BE; } >"$changes_file"
    read_as CloseBox "$shown"
    printf "$sample" >"$changes_file"
    read_as "Skip Upgrade" "$shown"
    printf "$sample" | iconv -t CP1252 >"$changes_file"
    read_as "Skip Upgrade" "$shown"
    expect_java_starts 5
    expect_installed old
}

read_as() {  # WAY_OUT TEXT: the dialog shows TEXT, and leaving it WAY_OUT starts java
    local starts
    starts=$(java_starts)
    drive "dialog=$1" java
    expect_line "dialog: $2"
    expect_java_starts $((starts + 1))
}

# An install folder whose path has spaces and letters beyond ASCII, on a drive of its own: the
# update and the launch find everything, and java gets exactly that path.
scenario_unicode_install_path() {
    map_drive_d
    install="$drive_d/Prog ramme/Tarvio Ünïcode"
    make_install
    map_drive_i
    publish_jar newer
    drive box=Yes box=OK java
    expect_line "box: Application Updated !"
    expect_installed new
    local folder='D:\Prog ramme\Tarvio Ünïcode'
    printf '%s\n' "command: \"$folder\\jre\\bin\\java.exe\" -jar \"$folder/Tarvio.jar\"" \
        "directory: $folder" "show: 0" "image: $folder\\jre\\bin\\java.exe" |
        cmp -s - "$work/java-record.txt" || fail "java was not started on the install folder"
}

"scenario_$scenario"
echo "PASS [$scenario]"
