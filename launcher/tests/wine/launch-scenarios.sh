#!/usr/bin/env bash
# End-to-end scenarios of the splash window and the application's launch, one per call.
# Usage: launch-scenarios.sh SCENARIO
source "$(dirname "$0")/lib.sh"

expected_command() {  # JAVA_WINDOWS_PATH JAR_NAME
    echo "command: \"$1\" -jar \"$(winpath "$install")/$2\""
}

scenario_launch() {
    make_install
    drive splash java closed
    expect_java_starts 1
    expect_record "$(expected_command "$(winpath "$install")\\jre\\bin\\java.exe" Tarvio.jar)"
    expect_record "directory: $(winpath "$install")"
    expect_record "show: 0"
    expect_line "splash: 444 303 135 161"
    expect_line "splash-taskbar: none"
    # 51 ticks of 100 ms from the window's first showing; the first tick did the launch.
    expect_ms closed-ms 4800 6500
    expect_ms exit-ms 0 300
}

# The splash at 96, 144 and 192 dpi: the same picture, larger. The resolution is the prefix's
# (Wine has no per-monitor one), so this scenario runs alone and puts 96 back at its end.
# Measured on each screenshot: the window's size; the logo's ring across its middle rows; the
# version label's opaque box (the only pure black over the logo), which covers a corner of the
# ring at 96 dpi and must cover no more of it at the higher resolutions.
scenario_high_dpi() {
    make_install
    use_own_display
    on_exit 'set_dpi 96'
    local dpi shot width height ring ring_left box_left box_bottom r g b
    local ring96 box_left96 box_bottom96 width96 height96
    for dpi in 96 144 192; do
        set_dpi $dpi
        shot="$work/splash-$dpi.png"
        drive_with_action "java: started" "import -window root \"$shot\"" splash java
        convert "$shot" -trim +repage "$shot"
        # 2030 x 2415 twips.
        read -r width height < <(convert "$shot" -format '%w %h\n' info:)
        [ "$width $height" = "$(((2030 * dpi + 720) / 1440)) $(((2415 * dpi + 720) / 1440))" ] ||
            fail "the splash is $width x $height at $dpi dpi"
        read -r ring _ ring_left _ < <(convert "$shot" -crop "${width}x$((height * 4 / 10))+0+$((height * 3 / 10))" \
            +repage -fx 'r > 0.55 && g < 0.16' -trim -format '%w %h %X %Y\n' info: | tr -d +)
        [ $((2 * ring_left + ring - width)) -le 4 ] && [ $((width - 2 * ring_left - ring)) -le 4 ] ||
            fail "the logo's ring is not centred at $dpi dpi"
        # Left of the last columns: the window's margin beside the logo is black too.
        read -r box_left box_bottom < <(convert "$shot" -crop "$((width * 3 / 4 - 3))x$((height * 35 / 100))+$((width / 4))+0" \
            +repage -fill white +opaque black -negate -trim -format '%X %[fx:page.y+h]\n' info: | tr -d +)
        box_left=$((box_left + width / 4))
        has_colour "$shot" "$((width - box_left))x${box_bottom}+${box_left}+0" C00000 ||
            fail "no red version label at the top right at $dpi dpi"
        read -r r g b < <(pixel "$shot" $((width / 2)) $((height - 2)))
        [ "$g" -eq 0 ] && [ "$b" -eq 0 ] && [ "$r" -ge 10 ] && [ "$r" -le 150 ] ||
            fail "the strip is RGB($r,$g,$b) at $dpi dpi, expected a dark red"
        if [ $dpi -eq 96 ]; then
            ring96=$ring box_left96=$box_left box_bottom96=$box_bottom width96=$width height96=$height
            continue
        fi
        # Within 4 px of the 96 dpi ring, scaled.
        [ $((ring * 96 - ring96 * dpi)) -le 384 ] && [ $((ring96 * dpi - ring * 96)) -le 384 ] ||
            fail "the logo's ring is $ring px wide at $dpi dpi, $ring96 at 96"
        # Within 3 % of the window of where it is at 96 dpi.
        [ $(((box_left * width96 - box_left96 * width) * 100 / (width * width96))) -ge -3 ] &&
            [ $(((box_bottom * height96 - box_bottom96 * height) * 100 / (height * height96))) -le 3 ] ||
            fail "the version label covers more of the logo at $dpi dpi: its box starts at $box_left of $width and ends at $box_bottom of $height (at 96 dpi: $box_left96 of $width96, $box_bottom96 of $height96)"
    done
}

set_dpi() {
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
        </dev/null >>"$work/wine.log" 2>&1
}

# Run under a name for which Wine hands the windows to a window manager, as it does by default
# (the prefix turns that off), on a display without one. Wine then holds the hiding of each
# such window for up to 2 s, waiting for a manager's answer that no user with one waits for:
# the message box goes 2 s after the click. The splash window, never activated, is not handed
# over, so the launcher still ends with it.
scenario_no_jar() {
    launcher_exe=VelmoorWm.exe
    wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$launcher_exe\\X11 Driver" /v Managed /d Y /f \
        </dev/null >>"$work/wine.log" 2>&1
    make_install
    rm "$install/Tarvio.jar"
    echo "not a jar" >"$install/Tarvio.jar_old"
    drive splash box=OK closed
    expect_line "box-title: Ostrel Tarvio Launcher"
    expect_line "box: Error: No Java Application File (JAR File) Found in Directory\\r\\n$(winpath "$install")"
    expect_java_starts 0
    # Closed on the 6th tick: five more ticks once the box has given the splash window back.
    local closed enabled
    closed=$(sed -n 's/^closed-ms: //p' "$driver_output")
    enabled=$(sed -n 's/^enabled-ms: //p' "$driver_output")
    [ $((closed - enabled)) -ge 400 ] && [ $((closed - enabled)) -le 850 ] ||
        fail "closed $((closed - enabled)) ms after the box gave the splash window back"
    expect_ms exit-ms 0 300
}

scenario_no_java() {
    make_install
    rm -r "$install/jre"
    remove_program_files_javas
    drive splash box=OK closed
    expect_line "box: Error: No Java Executable File Found at:\\r\\n$(winpath "$install")\\jre\\bin\\java.exe\\r\\nor\\r\\nC:\\Program Files\\Ostrel RFID\\Tarvio\\jre\\bin\\java.exe\\r\\nor\\r\\nC:\\Program Files\\Ostrel RFID Tarvio\\jre\\bin\\java.exe"
    expect_java_starts 0
    # Closed on the 11th tick: ten more ticks after the click on OK, as the user counts.
    expect_ms enabled-ms 0 300
    expect_ms closed-ms 900 1900
    expect_ms exit-ms 0 300

    # A runtime folder that may not be read: the box names the file beside the system's text.
    mkdir "$work/denied"
    coproc DENY { exec "$VELMOOR_STALLFS" --deny "$work/denied" 2>>"$work/stallfs.log"; }
    on_exit 'kill "$DENY_PID"; wait "$DENY_PID"'
    local line
    read -r line <&"${DENY[0]}" && [ "$line" = mounted ] || fail "the refusing file system did not mount"
    ln -s "$work/denied" "$program_files/Ostrel RFID"
    on_exit remove_program_files_javas
    drive box=OK
    # Whose text it is varies: "Access denied." (Wine), "Access is denied." (Windows).
    grep -qF 'box: C:\Program Files\Ostrel RFID\Tarvio\jre\bin\java.exe\r\nAccess' "$driver_output" ||
        fail "the box does not name the runtime that could not be read"
    expect_java_starts 0
}

scenario_java_start_fails() {
    make_install
    echo "not a program" >"$install/jre/bin/java.exe"
    drive splash box=OK closed
    expect_line "box: Error launching application: \"$(winpath "$install")\\jre\\bin\\java.exe\" -jar \"$(winpath "$install")/Tarvio.jar\""
    expect_ms closed-ms 900 1900
}

scenario_own_java_first() {
    make_install
    on_exit remove_program_files_javas
    put_java "$java2_dir"
    put_java "$java3_dir"
    drive java
    expect_java_starts 1
    expect_record "image: $(winpath "$install")\\jre\\bin\\java.exe"
}

scenario_program_files_order() {
    make_install
    rm -r "$install/jre"
    on_exit remove_program_files_javas
    put_java "$java2_dir"
    put_java "$java3_dir"
    drive java
    expect_java_starts 1
    expect_record "$(expected_command 'C:\Program Files\Ostrel RFID\Tarvio\jre\bin\java.exe' Tarvio.jar)"
    expect_record "image: C:\\Program Files\\Ostrel RFID\\Tarvio\\jre\\bin\\java.exe"
}

scenario_hidden_jar() {
    make_install
    set_hidden "$install/Tarvio.jar"
    echo "other" >"$install/Other.jar"
    drive java
    expect_java_starts 1
    expect_record "$(expected_command "$(winpath "$install")\\jre\\bin\\java.exe" Other.jar)"
}

"scenario_$scenario"
echo "PASS [$scenario]"
