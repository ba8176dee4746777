#!/usr/bin/env bash
# check_kit.sh <packages dir>
# The launcher kit: the launcher and the install guide, and a guide that names the very paths
# the launcher has compiled in.
set -euo pipefail
packages=$1

status=0
fail() { echo "FAILED: $*"; status=1; }
kit=$(ls "$packages"/Velmoor-*-kit.zip)
top=$(basename "$kit" .zip)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$kit" -d "$work"

listing=$(cd "$work" && find . -type f | sort)
[ "$listing" = "$(printf './%s/INSTALL.txt\n./%s/Velmoor.exe' "$top" "$top")" ] || fail "kit holds:"$'\n'"$listing"

exe=$work/$top/Velmoor.exe guide=$work/$top/INSTALL.txt
objdump -f "$exe" | grep -q 'file format pei-i386' || fail "Velmoor.exe is not a 32-bit Windows program"

# Notepad-friendly: every line ends in CR LF.
[ "$(grep -c $'\r$' "$guide")" -eq "$(wc -l < "$guide")" ] || fail "INSTALL.txt has lines without CR LF"

# Every fixed path and file name the launcher uses appears in the guide, spelled as in the program.
guide_text=$(tr -d '\r' < "$guide")
program_text=$(strings -e l "$exe")
for item in 'I:\Brantholm\Kelvanor\DevKit\lastest update\' 'TarvioChanges.txt' 'Tarvio.jar' \
    '\jre\bin\java.exe' 'C:\Program Files\Ostrel RFID\Tarvio\jre\bin\java.exe' \
    'C:\Program Files\Ostrel RFID Tarvio\jre\bin\java.exe'; do
  grep -qF -- "$item" <<<"$program_text" || fail "the launcher does not contain '$item'"
  grep -qF -- "$item" <<<"$guide_text" || fail "INSTALL.txt does not mention '$item'"
done
# And every message the launcher can show is explained.
for message in 'Error: No Java Application File (JAR File) Found in Directory' \
    'Error: No Java Executable File Found at:' 'Error launching application: ' \
    'An update is available for this application' 'Application Updated !' \
    'An error occured trying to update the application' 'Whats new?' 'Stop installing the update?' \
    'The new version is not signed by the publisher of the installed version.' 'Signer found: '; do
  grep -qF -- "$message" <<<"$program_text" || fail "the launcher does not show '$message'"
  grep -qF -- "$message" <<<"$guide_text" || fail "INSTALL.txt does not explain '$message'"
done
exit $status
