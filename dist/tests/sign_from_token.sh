#!/usr/bin/env bash
# sign_from_token.sh <unsigned Velmoor.exe> <work folder> <launcher version>
# The launcher signed as a release manager signs it: the key on a PKCS#11 token (SoftHSM2, made
# here, an RSA 3072 key with a code-signing certificate from this test's root), a time stamp from
# an RFC 3161 server on 127.0.0.1, the PIN on standard input or in the environment, never on a
# command line. The signature and its time stamp verify, the guide says it is time-stamped, and a
# wrong PIN signs nothing.
set -euo pipefail
exe=$(realpath "$1") work=$2 version=$3 here=$(realpath "$(dirname "$0")")
sign=$here/../sign-launcher.sh
status=0
fail() { echo "FAILED: $*"; status=1; }

rm -rf "$work" && mkdir -p "$work/tokens" "$work/bin"
work=$(realpath "$work") && cd "$work"
export SOFTHSM2_CONF=$work/softhsm2.conf
printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n' "$work" >"$SOFTHSM2_CONF"
module=/usr/lib/softhsm/libsofthsm2.so
pin=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')

# The token and what a certificate authority would hand out for its key. The key is made outside
# and imported, since softhsm2-util makes no keys; its file goes once it is on the token.
softhsm2-util --init-token --free --label velmoor-release --so-pin "$pin$pin" --pin "$pin" >/dev/null
openssl req -x509 -newkey rsa:3072 -noenc -keyout root.key -out root.pem -days 2 \
  -subj "/O=Ostrel RFID (test)/CN=Velmoor token test root" \
  -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:3072 -out signer.key 2>/dev/null
openssl req -new -key signer.key -subj "/O=Ostrel RFID (test)/CN=Velmoor token signer" |
  openssl x509 -req -CA root.pem -CAkey root.key -days 2 -out signer.pem -extfile <(
    printf '%s\n' basicConstraints=critical,CA:false keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning) 2>/dev/null
softhsm2-util --import signer.key --token velmoor-release --label codesign --id 01 --pin "$pin" >/dev/null
rm signer.key root.key
cat signer.pem root.pem >chain.pem

# Every osslsigncode started on the way notes the command line the system shows for it.
cat >bin/osslsigncode <<END
#!/bin/sh
tr '\0' ' ' </proc/\$\$/cmdline >>"$work/command-lines"; echo >>"$work/command-lines"
exec $(command -v osslsigncode) "\$@"
END
chmod +x bin/osslsigncode
export PATH=$work/bin:$PATH

# The time-stamp server, for as long as its standard input stays open (two minutes at most).
mkdir tsa
coproc responder { exec "$here/timestamp_responder.py" "$work/tsa" 120; }
read -r -t 60 url <&"${responder[0]}" || { echo "FAILED: no time-stamp server"; exit 1; }
trap 'exec {responder[1]}>&-; wait' EXIT

export VELMOOR_SIGN_PKCS11_MODULE=$module VELMOOR_SIGN_CERT=$work/chain.pem
export VELMOOR_SIGN_PKCS11_KEY="pkcs11:token=velmoor-release;object=codesign;type=private"
export VELMOOR_SIGN_TIMESTAMP_URL=$url VELMOOR_SIGN_TSA_CAFILE=$work/tsa/tsa.pem
verify() { osslsigncode verify -CAfile root.pem -TSA-CAfile tsa/tsa.pem -in "$1" 2>&1; }

# PIN on standard input, then from the environment; a wrong one either way signs nothing.
for how in stdin environment; do
  out=$work/signed-$how
  case $how in
    stdin) run() { env -u VELMOOR_SIGN_PIN "$sign" "$exe" "$out" <<<"$1"; } ;;
    environment) run() { VELMOOR_SIGN_PIN=$1 "$sign" "$exe" "$out" </dev/null; } ;;
  esac
  ! run "${pin}9" >"$out.log" 2>&1 && grep -q 'PIN incorrect' "$out.log" && [ ! -e "$out/Velmoor.exe" ] ||
    fail "PIN on $how: the token did not refuse a wrong PIN:"$'\n'"$(cat "$out.log")"
  run "$pin" >"$out.log" 2>&1 || { fail "PIN on $how: not signed:"$'\n'"$(cat "$out.log")"; continue; }
  report=$(verify "$out/Velmoor.exe") || fail "PIN on $how: the signature does not verify:"$'\n'"$report"
  grep -q '^Timestamp Server Signature verification: ok' <<<"$report" || fail "PIN on $how: no verified time stamp"
  grep -q 'Subject: .*/CN=Velmoor token signer' <<<"$report" || fail "PIN on $how: not the token's signer"
  grep -q 'It carries a time stamp' "$out/signature.txt" || fail "PIN on $how: the guide does not say it is time-stamped"
  [ ! -e "$out/test-signed" ] || fail "PIN on $how: taken for a test signature"
  echo "PIN on $how: $(grep -m1 'Timestamp time' <<<"$report" | xargs)"
done

# A real chain is longer than this test's: the launcher's size limit counts the signature too.
"$here/../../launcher/tests/check-executable.py" signed-stdin/Velmoor.exe "$version" ||
  fail "the launcher signed from the token fails the launcher's checks"

[ "$(grep -c 'osslsigncode sign' command-lines)" -ge 4 ] || fail "osslsigncode was not watched:"$'\n'"$(cat command-lines)"
! grep -rlF -- "$pin" command-lines signed-* || fail "the PIN was on a command line, or written where it shows"
exit $status
