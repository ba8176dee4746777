# The update check, the update and the changes dialog; sourced by scenarios.sh.
prompt='box: An update is available for this application\r\nDo you want to install this update now ?'
sample='Ünïcode €\r\nB' shown='dialog: \r\nÜnïcode €\r\nB'

# The update folder's drive has lost its server: java starts once the folder's 2 s wait is over.
scenario_drive_stalled() {
    make_install
    cp -p "$install/Tarvio.jar" "$work/installed.jar"
    dead_drive "$work/dead"
    mkdir -p "$work/drive-i"
    ln -s "$work/dead" "$work/drive-i/Brantholm"
    ln -sfn "$work/drive-i" "$WINEPREFIX/dosdevices/i:"
    drive splash java "run=kill $dead_holder" closed
    expect_ms java-from-start-ms 1900 20000
    expect_ms java-ms 0 3600  # from the splash, found after the wait began
    expect_ms exit-ms 0 500
    expect_java 1 "$(java_command Tarvio.jar)"
    expect_installed old
}

# Yes updates an install on a drive of its own, its path with spaces and letters beyond ASCII, its
# jar of another name: java gets exactly that path; the copy kept the published time, so the next
# start offers nothing. The 17 MB copy at 2 MB/s takes some 9 s, while the splash answers at once,
# its strip pulses (0.7 s at its darkest) and, from about a second in, fills from the left.
scenario_newer_yes() {
    map_drive_d
    install="$drive_d/Prog ramme/Tarvio Ünïcode" jar=Other.jar
    publish large
    slow_drive --rate=2000000
    use_own_display
    drive splash box=Yes watch box=OK java
    expect "$prompt" "box: Application Updated !"
    expect_ms watch-ms 7000 30000
    expect_ms strip-gap-ms 0 1500  # a frozen strip shows as the whole copy
    expect_ms answer-ms 0 200
    local widths=($(sed -n 's/^strip-widths: //p' "$out")) grown=0 i
    for ((i = 1; i < ${#widths[@]}; i++)); do grown=$((grown + (widths[i] > widths[i - 1]))); done
    ((grown >= 5)) || fail "the bar did not grow on the screen: ${widths[*]}"
    expect_installed new
    # java ended with 0: the new version has passed its trial, and the one it replaced goes.
    [ ! -e "$install/$jar.previous" ] || fail "the previous version is kept after the new one passed"
    local folder='D:\Prog ramme\Tarvio Ünïcode'
    expect_java 1 "command: \"$folder\\jre\\bin\\java.exe\" -jar \"$folder/Other.jar\"" "directory: $folder" \
        "image: $folder\\jre\\bin\\java.exe"
    drive java
    expect_java 2
}

# A second launcher, by the install's other spelling (Z: for D:), brings the first one's question
# to the front and ends (java_fails holds the next start while the application runs on).
scenario_newer_no() {
    map_drive_d
    install="$drive_d/Tarvio"
    publish
    drive box "second=Z:${install//\//\\}\\$launcher_exe" box=No java
    expect_ms second-ms 0 3000
    expect "second-front: #32770 first" "$prompt"
    expect_java 1 "$(java_command Tarvio.jar)"
    expect_installed old
}

# The new version fails to start: the box gives java's reason, the version it replaced is put back
# and starts, and only a small record of the publish is kept, which is not offered again. A later
# one fails 6 s after its start, the splash gone, and is undone all the same.
scenario_update_undone() {
    publish
    export VELMOOR_JAVA_FAIL_ON="published jar"
    local undone="box: The new version of the application could not start (exit code 1):\r\nno main manifest attribute, in $(winpath "$install")/Tarvio.jar\r\nThe previous version was put back and started."
    drive box=Yes box=OK java box=OK java
    expect "box: Application Updated !" "$undone"
    expect_java 2
    expect_installed old
    [ "$(ls -A "$install" | paste -sd' ')" = "Tarvio.jar Tarvio.jar.refused Velmoor.exe jre" ] ||
        fail "other files than a record are kept: $(ls -A "$install")"
    (($(stat -c %s "$install/Tarvio.jar.refused") < 64)) || fail "the refused version is kept whole"
    drive java
    ! grep -q '^box' "$out" || fail "the refused publish was offered again"
    touch -d 2025-01-01 "$update_folder/$jar"
    VELMOOR_JAVA_FAIL_MS=6000 drive splash box=Yes box=OK java closed box=OK java
    expect "$undone"
    expect_ms box-ms 0 4000  # from the splash's end, java failing 6 s after its start
    expect_java 5
    expect_installed old
}

# Left where the copy goes: a read-only file is removed and the update offered; a folder, which
# stays, is named in a box instead of the offer, and the installed version starts.
scenario_update_leftover() {
    publish
    echo "left" >"$install/$jar.update.tmp" && chmod a-w "$install/$jar.update.tmp"
    drive box=No java
    expect "$prompt"
    mkdir -p "$install/$jar.update.tmp/inner"
    drive box=OK java
    grep -qF "box: An update is available for this application\\r\\nIt cannot be installed while this file, left by an earlier update, is there:\\r\\n$(winpath "$install")\\$jar.update.tmp\\r\\n" "$out" ||
        fail "no box names the leftover"
    expect_java 2
}

# Upgrade after the splash has gone, the changes in UTF-16 BE; the labels lie beside the text box.
scenario_dialog_upgrade_after_splash() {
    publish
    { printf '\xfe\xff' && printf "$sample" | iconv -t UTF-16BE; } >"$update_folder/TarvioChanges.txt"
    use_own_display
    drive splash dialog closed "run=import -window root $work/dialog.png" click=Upgrade box=OK java
    expect "$shown" "box: Application Updated !"
    expect_java 1
    expect_installed new
    local left top width
    read -r left top width < <(sed -n 's/^dialog-edit: //p' "$out")
    [ "$(colours "1x1+$((left + 2))+$((top - 3))")" = "#000000" ] || fail "no dialog above the text box"
    ! colours "$((width - 4))x1+$((left + 2))+$top" | grep -q '#000000' || fail "a label covers the text box's border"
}
colours() { convert "$work/dialog.png" -crop "$1" -depth 8 -unique-colors txt:- | grep -o '#[0-9A-F]\{6\}'; }

# Escape skips the upgrade, and the splash counts again. Changes that claim UTF-8 with NULs, bad
# bytes and every line end: nothing after a NUL is lost, what cannot be decoded shows as U+FFFD.
scenario_dialog_skip_restarts_splash() {
    publish
    local bad=$'\xef\xbf\xbd'
    printf "\xef\xbb\xbfbefore\0after\r\n$(printf '\\x%x' {128..255})\rA\nB\r\r\n\xc3\x9cn\xc3\xafcode\n\0\0end" \
        >"$update_folder/TarvioChanges.txt"
    drive splash dialog=Escape java closed
    expect "dialog: \\r\\nbefore${bad}after\\r\\n$(printf "$bad%.0s" {128..255})\\r\\nA\\r\\nB\\r\\n\\r\\nÜnïcode\\r\\n$bad${bad}end"
    expect_ms closed-ms 4800 7600
    expect_java 1
    expect_installed old
    # The update drive goes while the dialog shows the changes, in the ANSI code page (1252).
    printf "$sample" | iconv -t CP1252 >"$update_folder/TarvioChanges.txt"
    drive dialog "run=rm $WINEPREFIX/dosdevices/i:" click=Upgrade box=OK java
    expect "$shown"
    expect_update_failed 2
}

# 5.2 MB of changes in UTF-16 LE at 1.2 MB/s: the dialog opens at once, first lines in view, holding
# the first 256 KiB (past the text box's default 32K characters) and a line saying there is more.
scenario_long_changes() {
    publish small
    { printf '\xff\xfe' && { seq 40000 | awk '{ printf "Change %05d: the quick brown fox jumps over the lazy dog again\r\n", $1 }' &&
        printf 'The last line'; } | iconv -t UTF-16LE; } >"$update_folder/TarvioChanges.txt"
    slow_drive --rate=1200000
    local more='... and more changes: see TarvioChanges.txt in the update folder'
    # The characters after the mark, a line break before the first line and one before the last.
    local length=$(((256 * 1024 - 2) / 2 + 2 + 2 + ${#more}))
    drive splash dialog "filled=$length" "click=Skip Upgrade" java
    expect_ms dialog-ms 0 2000
    expect "filled-length: $length" "filled-tail: ${more: -60}" 'filled-top-line: 0' \
        'filled-head: \r\nChange 00001: the quick brown fox jumps over the lazy dog '
    expect_java 1
}

# A jar with a byte changed inside compressed data is offered, its copy refused, and not copied
# again (the jar check's own tests hold every other kind of damage).
scenario_jar_damaged() {
    publish small
    slow_drive "--flip=Tarvio.jar:$flip_at"
    drive box=Yes box=OK java
    expect "box: An error occured trying to update the application\\r\\nThe new version's JAR File is incomplete or damaged."
    expect_update_failed 1
    drive java
    ! grep -q '^box' "$out" || fail "the refused publish was offered again"
}

# 20,001 classes, a 2.1 MB directory at 1 MB/s: offered within the folder's 2 s patience, since
# the offer reads only the end records, and installed.
scenario_jar_many_entries() {
    publish many
    slow_drive --rate=1000000
    drive box=Yes box=OK java
    expect "$prompt" "box: Application Updated !"
    expect_installed new
    expect_java 1
}

# The update drive stalls half way through the copy: the launcher gives up within its bound and
# starts the installed jar. The next start, while the first may still sit in its read, copies
# again: a click on the splash asks whether to stop, and Yes starts the untouched jar at once.
# The start after that (the drive gone) finds no copy left over.
scenario_copy_stalled() {
    publish large
    slow_drive "--stall=Tarvio.jar:$(($(stat -c %s "$work/published.jar") / 2))"
    drive box=Yes box=OK java
    expect_ms box-ms 10000 25000  # gave up after Yes
    grep -q '^box: An error occured trying to update the application' "$out" || fail "no update error"
    drive splash box=Yes press box=Yes java "run=kill -9 $slow_server"
    expect 'box: Stop installing the update?\r\nThe installed version starts, unchanged.'
    expect_ms java-ms 0 3000
    drive java
    expect_java 3
    expect_installed old
}

# Under a window manager the yes/no box and the changes dialog lie above the splash (xwininfo lists
# the windows from the topmost down).
scenario_questions_above_splash() {
    managed_name
    publish
    use_own_display
    openbox --sm-disable </dev/null >"$work/openbox.log" 2>&1 &
    on_exit "kill $!"
    timeout 10 sh -c "until xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; do sleep 0.1; done" 2>/dev/null ||
        fail "the window manager did not start"
    drive splash box "run=$(stacking box 'Ostrel Tarvio Launcher')" box=No java
    above box 'Ostrel Tarvio Launcher'
    printf "$sample" >"$update_folder/TarvioChanges.txt"
    drive splash dialog "run=$(stacking dialog 'Whats new')" "click=Skip Upgrade" java
    above dialog 'Whats new'
}
stacking() {  # NAME TITLE: a command that saves the stacking once the window of that title shows
    echo "xdotool search --sync --onlyvisible --name '$2' >/dev/null; xwininfo -root -tree >$work/$1-tree.txt"
}
above() {  # NAME TITLE: the window of that title lies above the splash, by their frames' order
    awk -v title="\"$2" '/^     0x/ { top++ } index($0, "\"Form1\":") { splash = top } index($0, title) { shown = top }
        END { exit !(shown && splash && shown < splash) }' "$work/$1-tree.txt" || fail "the splash covers the $1"
}

# An install and a rollback cut off at each change a clean run makes to the install folder: the
# jar's name never goes missing, and the next start runs a whole jar, old or new.
scenario_install_cut() {
    launcher_exe=VelmoorCut.exe
    local events="$work/events.txt" total k
    on_exit 'stop_watch'
    cut_install
    watch_install "$events" 0
    VELMOOR_JAVA_FAIL_ON="published jar" drive box=Yes box=OK java box=OK java
    expect_installed old
    stop_watch
    total=$(wc -l <"$events")
    ((total > 5)) || fail "the clean run showed only $total changes"
    for ((k = 1; k <= total; k++)); do
        cut_install
        watch_install "$work/cut-$k.txt" "$k"
        VELMOOR_JAVA_FAIL_ON="published jar" wine "$programs/winctl.exe" "$(winpath "$install")\\$launcher_exe" \
            box=Yes box=OK box=OK >"$out" 2>>"$work/wine.log" </dev/null || true
        stop_watch
        local cut="cut after change $k ($(sed -n "${k}p" "$events"))"
        [ -f "$install/$jar" ] || fail "$cut: the jar's name is gone, left: $(ls -A "$install")"
        rm "$update_folder/$jar"
        drive java
        { cmp -s "$install/$jar" "$work/installed.jar" || cmp -s "$install/$jar" "$work/published.jar"; } &&
            [ "$(sed -n 's/^jar-head: //p' "$record" | tail -1 | cut -c1-2)" = PK ] || fail "$cut: the next start ran no whole jar"
    done
}
cut_install() {  # an install of a whole jar, a whole jar published; no kept files, no java record
    rm -rf "$install" "$record"
    publish
    write_jar "" "$install/$jar" "installed jar"
    touch -d 2020-01-01 "$install/$jar"
    cp -p "$install/$jar" "$work/installed.jar"
}
# EVENTS CUT: the install folder's changes, but the claim's, into EVENTS; at change CUT (0: none) the
# launcher is killed there and then. The watch ends with stop_watch.
watch_install() {
    rm -f "$work/inotify.err" "$work/events.fifo" && mkfifo "$work/events.fifo"
    inotifywait -m -e create,delete,moved_from,moved_to,close_write,attrib --format '%e %f' "$install" \
        >"$work/events.fifo" 2>"$work/inotify.err" &
    watcher=$! n=0 pid=
    while read -r event; do
        # The claim comes first, before any window: the launcher's process is looked up then.
        [[ $event == *Velmoor.lock* ]] && { [ -n "$pid" ] || pid=$(launcher_pid); continue; }
        echo "$event" >>"$1"
        ((++n == $2)) && [ -n "$pid" ] && kill -KILL "$pid"
    done <"$work/events.fifo" &
    reader=$!
    timeout 10 sh -c "until grep -q 'Watches established' '$work/inotify.err' 2>/dev/null; do sleep 0.05; done" ||
        fail "inotifywait did not start"
}
launcher_pid() {  # the Unix process that Wine shows by the launcher's Windows path alone, not the driver's
    local want="$(winpath "$install")\\$launcher_exe"
    pgrep -f -x -- "${want//\\/\\\\}" | head -1
}
stop_watch() { kill "$watcher" 2>/dev/null; wait "$reader" 2>/dev/null || true; }
