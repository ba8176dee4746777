# The update check, the update and the changes dialog; sourced by scenarios.sh.
prompt='box: An update is available for this application\r\nDo you want to install this update now ?'
sample='Ünïcode €\r\nB' shown='dialog: \r\nÜnïcode €\r\nB'

# The update folder is on a drive whose server has gone: java starts once the 2 s wait for the
# folder has run out (the drive is released only after that).
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

# Yes updates an install whose path has spaces and letters beyond ASCII, on a drive of its own,
# and whose jar has another name; java gets exactly that path. The copy kept the published jar's
# time, so the next start offers nothing.
scenario_newer_yes() {
    map_drive_d
    install="$drive_d/Prog ramme/Tarvio Ünïcode" jar=Other.jar
    publish
    drive box=Yes box=OK java
    expect "$prompt" "box: Application Updated !"
    expect_installed new
    local folder='D:\Prog ramme\Tarvio Ünïcode'
    expect_java 1 "command: \"$folder\\jre\\bin\\java.exe\" -jar \"$folder/Other.jar\"" "directory: $folder" \
        "image: $folder\\jre\\bin\\java.exe"
    drive java
    expect_java 2
}

# A second launcher started while the first asks brings that question to the front and ends.
# Then Yes, but the installed jar is held open by a running copy of the application.
scenario_newer_no() {
    publish
    drive box second box=No java
    expect_ms second-ms 0 3000
    expect "second-front: #32770 first" "$prompt"
    expect_java 1 "$(java_command Tarvio.jar)"
    expect_installed old
    drive "lock=$(winpath "$install")\\Tarvio.jar" box=Yes box=OK java
    expect_update_failed 2
}

# Upgrade after the splash has closed itself, the changes in UTF-16 BE as Notepad saves them; on a
# screenshot of the dialog alone, its labels lie beside the text box, not over its border.
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

# Escape while the splash is open skips the upgrade, and the splash starts its count again. The
# changes file says it is UTF-8 and is not, with NULs and every line end: nothing after a NUL is
# lost, and what cannot be decoded shows as U+FFFD.
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
    # The update drive goes while the dialog shows the changes, in the ANSI code page (1252 here).
    printf "$sample" | iconv -t CP1252 >"$update_folder/TarvioChanges.txt"
    drive dialog "run=rm $WINEPREFIX/dosdevices/i:" click=Upgrade box=OK java
    expect "$shown"
    expect_update_failed 2
}

# The install on a drive with a few hundred KB free: the copy of a 4 MB jar runs out of space.
scenario_disk_full() {
    map_drive_d 2M
    install="$drive_d/Tarvio"
    publish 4M
    head -c $(($(df --output=avail -B1 "$drive_d" | tail -1) - 300 * 1024)) /dev/zero >"$drive_d/filler"
    drive box=Yes box=OK java
    expect_update_failed 1
}

# 5 MB of changes in UTF-16 LE: the dialog opens within a second with the first lines in view,
# and goes on to hold the first 256 KiB of the file, far past the text box's default 32K
# characters, and a last line saying that there is more.
scenario_long_changes() {
    publish
    { printf '\xff\xfe' && { seq 40000 | awk '{ printf "Change %05d: the quick brown fox jumps over the lazy dog again\r\n", $1 }' &&
        printf 'The last line'; } | iconv -t UTF-16LE; } >"$update_folder/TarvioChanges.txt"
    local more='... and more changes: see TarvioChanges.txt in the update folder'
    # The characters after the mark, a line break before the first line and one before the last.
    local length=$(((256 * 1024 - 2) / 2 + 2 + 2 + ${#more}))
    drive splash dialog "filled=$length" "click=Skip Upgrade" java
    expect_ms dialog-ms 0 1000
    expect "filled-length: $length" "filled-tail: ${more: -60}" 'filled-top-line: 0'
    expect_java 1
}
