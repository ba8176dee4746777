#!/usr/bin/env bash
# check_kit.sh <packages dir> <signing dir> <launcher version>
# The launcher kit: the signed launcher and the install guide, and a guide that names the very
# paths the launcher has compiled in, who signed it and whether it is time-stamped.
set -euo pipefail
packages=$1 signing=$2 version=$3

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
"$(dirname "$0")/../../launcher/tests/check-executable.py" "$exe" "$version" || fail "the signed Velmoor.exe fails the launcher's checks"
objdump -f "$exe" | grep -q 'file format pei-i386' || fail "Velmoor.exe is not a 32-bit Windows program"

# Authenticode over SHA-256, with the signer's chain; it verifies against the chain that signed
# it, and no longer once a byte has changed. A test signature says so in the name and the guide.
verify() { osslsigncode verify -CAfile "$1" -in "$2" 2>&1; }
report=$(verify "$signing/verify-ca.pem" "$exe") || fail "the signature does not verify:"$'\n'"$report"
grep -q '^Message digest algorithm *: SHA256' <<<"$report" || fail "the signature's digest is not SHA-256"
osslsigncode extract-signature -pem -in "$exe" -out "$work/signature.pem" >/dev/null
[ "$(openssl pkcs7 -print_certs -in "$work/signature.pem" | grep -c '^subject=')" -ge 2 ] || fail "the signature carries no chain"
perl -0777 -pe "substr(\$_, $(($(stat -c %s "$exe") / 3)), 1) ^= 'x'" "$exe" >"$work/changed.exe"
! verify "$signing/verify-ca.pem" "$work/changed.exe" >/dev/null || fail "a byte changed after signing still verifies"
test_signed=no named=no said=no
verify "$signing/test-chain/root.pem" "$exe" >/dev/null && test_signed=yes
[[ $top == Velmoor-"$version"-test-signed-kit ]] && named=yes
[[ $top =~ ^Velmoor-$version-(test-signed-)?kit$ ]] || fail "the kit's name $top is not of version $version"
[ "$(head -1 "$guide" | tr -d '\r')" = "VELMOOR $version - THE LAUNCHER OF OSTREL TARVIO" ] || fail "INSTALL.txt is not of version $version"
grep -q 'TEST SIGNATURE - NOT FOR RELEASE' "$guide" && said=yes
[[ $test_signed$named$said =~ ^(yesyesyes|nonono)$ ]] ||
  fail "a test signature: $test_signed; the kit's name says so: $named; the guide says so: $said"

# Notepad-friendly: every line ends in CR LF.
[ "$(grep -c $'\r$' "$guide")" -eq "$(wc -l < "$guide")" ] || fail "INSTALL.txt has lines without CR LF"

# Every fixed path and file name the launcher uses, and every message it can show, is in the guide
# as the program spells it.
guide_text=$(tr -d '\r' < "$guide")
program_text=$(strings -e l "$exe")
signer=$(sed -n "/Signer's certificate:/,/Serial/ s/.*Subject: .*\/CN=//p" <<<"$report" | head -1)
grep -qF -- "  $signer" <<<"$guide_text" || fail "INSTALL.txt does not name the signer '$signer'"
stamped=no said=no
grep -q 'Timestamp time:' <<<"$report" && stamped=yes
grep -q 'It carries a time stamp' <<<"$guide_text" && said=yes
[ $stamped = $said ] || fail "time-stamped: $stamped; INSTALL.txt says so: $said"
for item in 'I:\Brantholm\Kelvanor\DevKit\lastest update\' 'TarvioChanges.txt' 'Tarvio.jar' \
    '\jre\bin\java.exe' 'C:\Program Files\Ostrel RFID\Tarvio\jre\bin\java.exe' \
    'C:\Program Files\Ostrel RFID Tarvio\jre\bin\java.exe' 'Error: No Java Application File (JAR File) Found in Directory' \
    'Error: No Java Executable File Found at:' 'Error launching application: ' 'left by an earlier update' \
    'An update is available for this application' 'Application Updated !' \
    'An error occured trying to update the application' 'Whats new?' 'Stop installing the update?' \
    'The application stopped while starting' 'The new version of the application could not start' \
    'Error: Java cannot open the JAR File' 'The application is running: close it' \
    'The new version is not signed by the publisher of the installed version.' 'Signer found: '; do
  grep -qF -- "$item" <<<"$program_text" || fail "the launcher does not contain '$item'"
  grep -qF -- "$item" <<<"$guide_text" || fail "INSTALL.txt does not mention '$item'"
done
exit $status
