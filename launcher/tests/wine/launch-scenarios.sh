# The splash window and the launch; sourced by scenarios.sh.

# The install's own runtime goes first, a hidden jar is passed over, drive I: is not mapped. The
# splash, a tool window, closes 51 ticks of 100 ms after it shows, and the launcher with it; the
# bound above is loose, as a busy machine drops ticks, but catches a count off by half.
scenario_launch() {
    make_install
    rm -f "$WINEPREFIX/dosdevices/i:"
    put_java "$program_files/Ostrel RFID/Tarvio/jre/bin"
    put_java "$program_files/Ostrel RFID Tarvio/jre/bin"
    setfattr -n user.DOSATTRIB -v '"0x2"' "$install/Tarvio.jar"
    echo "other" >"$install/Other.jar"
    drive splash java closed
    expect "splash-taskbar: none"
    expect_ms closed-ms 4800 7600
    expect_ms exit-ms 0 300
    expect_java 1 "$(java_command Other.jar)" "directory: $(winpath "$install")" "show: 0" \
        "image: $(winpath "$install")\\jre\\bin\\java.exe"
    # At 144 dpi the splash is half as large again as at 96; the dpi is the prefix's: put 96 back.
    use_own_display
    on_exit 'set_dpi 96'
    for dpi in 96 144; do
        set_dpi $dpi
        drive splash java "run=import -window root -trim +repage $work/$dpi.png"
    done
    local width height width144 height144
    read -r width height width144 height144 < <(convert "$work/96.png" "$work/144.png" -format '%w %h ' info:; echo)
    (( (width * 3 - width144 * 2) ** 2 <= 16 && (height * 3 - height144 * 2) ** 2 <= 16 )) ||
        fail "the splash is ${width}x$height at 96 dpi and ${width144}x$height144 at 144"
    # The logo is drawn at both sizes: its red covers a tenth of the splash, the caption's alone less.
    for dpi in 96 144; do
        [ "$(convert "$work/$dpi.png" -fx 'r > 0.55 && g < 0.15 && b < 0.15' -format '%[fx:mean > 0.05]' info:)" = 1 ] ||
            fail "the splash at $dpi dpi shows no logo"
    done
}
set_dpi() {
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f </dev/null >>"$work/wine.log" 2>&1
}

# Windows handed to a window manager that is not there, whose hiding Wine holds up to 2 s: the
# launcher does not wait for that. No jar (one by its short name only is none): the box names the
# folder. No runtime: the box lists the three places, the splash closes ten ticks after OK. The
# first place under Program Files on a dead drive: the box names it. Then not a program there:
# the launch fails on it, not on the next place, and the box gives its path and the reason.
scenario_java_lookup() {
    managed_name
    make_install
    rm -r "$install/jre"
    mv "$install/Tarvio.jar" "$install/Tarvio.jar_old"
    drive splash box=OK closed
    expect "box: Error: No Java Application File (JAR File) Found in Directory\\r\\n$(winpath "$install")"
    # Closed on the 6th tick: five more once the box has given the splash window back.
    local closed enabled
    closed=$(sed -n 's/^closed-ms: //p' "$out") enabled=$(sed -n 's/^enabled-ms: //p' "$out")
    (( closed - enabled >= 400 && closed - enabled <= 850 )) ||
        fail "closed $((closed - enabled)) ms after the box gave the splash window back"
    expect_ms exit-ms 0 300

    mv "$install/Tarvio.jar_old" "$install/Tarvio.jar"
    mv "$install/$launcher_exe" "$install/Velmoor.exe" && launcher_exe=Velmoor.exe  # unmanaged windows again
    local program2='C:\Program Files\Ostrel RFID\Tarvio\jre\bin\java.exe'
    drive splash box=OK closed
    expect "box: Error: No Java Executable File Found at:\\r\\n$(winpath "$install")\\jre\\bin\\java.exe\\r\\nor\\r\\n$program2\\r\\nor\\r\\nC:\\Program Files\\Ostrel RFID Tarvio\\jre\\bin\\java.exe"
    expect_ms enabled-ms 0 300
    expect_ms closed-ms 900 1900
    expect_ms exit-ms 0 300

    put_java "$program_files/Ostrel RFID Tarvio/jre/bin"
    dead_drive "$work/dead"
    release_dead_drive
    ln -s "$work/dead" "$program_files/Ostrel RFID"
    drive box=OK
    grep -qF "box: $program2\\r\\n" "$out" || fail "the box does not name the runtime that could not be read"

    rm "$program_files/Ostrel RFID"
    put_java "$program_files/Ostrel RFID/Tarvio/jre/bin" "not a program"
    drive box=OK
    grep -q "^box: Error launching application: ${program2//\\/\\\\}\\\\r\\\\n." "$out" ||
        fail "the box does not give the runtime's path and the system's reason"
    expect_java 0
}

# java fails while the splash is open, after 4 MB of log, leaving a child holding its standard
# error: a box says so at once with java's last lines, its own in the ANSI code page, and the splash
# goes a second later. A java that runs on inherits nothing of the launcher's: the next start
# claims the install at once, and what java writes after the launcher has gone costs it nothing.
scenario_java_fails() {
    publish
    VELMOOR_JAVA_EXIT=1:100 VELMOOR_JAVA_STDERR='Error: Could not find or load main class Tarvio in D:\Café' \
        VELMOOR_JAVA_CHILD_MS=8000 VELMOOR_JAVA_LOG=$((4 << 20)) drive splash box=No java box=OK closed
    local info='INFO Starting the application'"'"'s services\r\n'
    expect "box: The application stopped while starting (exit code 1):\\r\\n$info$info$info${info}Error: Could not find or load main class Tarvio in D:\\Café"
    expect_ms box-ms 0 3000
    expect_ms closed-ms 900 1900
    VELMOOR_JAVA_UNTIL=$(winpath "$work/release") VELMOOR_JAVA_SPEW=$((1 << 20)) drive box=No java
    drive box=OK
    expect "box: An update is available for this application\\r\\nThe application is running: close it, then start it again to install the update."
    touch "$work/release"
    timeout 30 sh -c "until grep -q '^spewed-ms' '$record'; do sleep 0.1; done" || fail "java was held up writing"
    local spewed
    spewed=$(sed -n 's/^spewed-ms: //p' "$record")
    ((spewed <= 2000)) || fail "java took $spewed ms to write its output"
    expect_java 2
    expect_installed old
}

# java reads its command line in the ANSI code page (1252): from folders with letters outside it,
# java gets a path to the jar it can open (a short name), never a look-alike naming another jar
# (Tarvio-Omega for Tarvio-Ωmega), and a path to itself it reads back; a trailing blank works too.
scenario_ansi_paths() {
    rm -f "$WINEPREFIX/dosdevices/i:"
    mkdir -p "$work/Tarvio-Omega" && echo "decoy jar" >"$work/Tarvio-Omega/Tarvio.jar"
    local folder
    for folder in Ταρβιο Тарвио 塔维奥 Tarvio-Ωmega 'Tarvio '; do
        install="$work/$folder"
        make_install
        drive splash java closed
        [ "$(sed -n 's/^jar-head: //p' "$record" | tail -1)" = "installed jar." ] ||
            fail "java opened no jar or another from $folder: $(grep '^jar-' "$record" | tail -2)"
    done
    expect_java 5
}

# A launcher on another computer holds the install (its lock file names it, with the id of a
# windowed process here): this one starts the installed jar without looking for an update.
scenario_claim_elsewhere() {
    publish
    touch "$install/Velmoor.lock"
    VELMOOR_JAVA_RECORD=$(winpath "$work/holder.txt") VELMOOR_JAVA_HOLD="$(winpath "$install")\\Velmoor.lock" \
        VELMOOR_JAVA_UNTIL=$(winpath "$work/never") VELMOOR_JAVA_WINDOW=1 wine "$programs/java.exe" "$(winpath "$install")\\Tarvio.jar" </dev/null >>"$work/wine.log" 2>&1 &
    on_exit "kill $!"
    timeout 30 sh -c "until grep -q '^holding' '$work/holder.txt' 2>/dev/null; do sleep 0.1; done" || fail "nothing holds the lock file"
    python3 -c 'import struct, sys; sys.stdout.buffer.write(struct.pack("<II", *map(int, sys.argv[1:3])) + "OTHERPC".ljust(16, "\0").encode("utf-16-le"))' \
        $(sed -n 's/^holding: claim //p' "$work/holder.txt") >"$install/Velmoor.lock"
    drive splash java closed
    expect_java 1 "$(java_command Tarvio.jar)"
    ! grep -q '^box' "$out" || fail "an update was offered under another's claim"
}

