#!/usr/bin/env bash
# sign-launcher.sh EXE OUT: signs the launcher with Authenticode (SHA-256, the certificate's chain
# included) into OUT/Velmoor.exe, and writes beside it what the kit and the build say about it:
#   signed-by.txt  one line: who signed it
#   signature.txt  the install guide's paragraph on the signature
#   verify-ca.pem  the certificates the signature verifies against
#   test-signed    there only when the signature is a test one
#   inputs         a digest of what the signature was made from
# The key and certificate, from the first of these that the environment names:
#   a PKCS#11 token (a hardware token or an HSM; where every public code-signing key lives now):
#     VELMOOR_SIGN_PKCS11_MODULE  the token's PKCS#11 module (a .so file)
#     VELMOOR_SIGN_PKCS11_KEY     the key's PKCS#11 URI, e.g. pkcs11:token=Ostrel;object=codesign;type=private
#     VELMOOR_SIGN_CERT           a PEM file with the signer's certificate and the certificates of its chain
#     VELMOOR_SIGN_PIN            the token's PIN; when it is not set, the first line of standard input
#     VELMOOR_SIGN_PKCS11_ENGINE  OpenSSL's pkcs11 engine (default: Debian's libengine-pkcs11-openssl)
#   a PKCS#12 file: VELMOOR_SIGN_PKCS12 (the key, its certificate and the chain), VELMOOR_SIGN_PASSWORD
#     its password;
#   neither: a throw-away chain of this build tree (OUT/test-chain, made once) that no PC trusts.
# PIN and password reach osslsigncode on its standard input, never on a command line (which any
# user of the machine can read in /proc).
# VELMOOR_SIGN_TIMESTAMP_URL, when set, names an RFC 3161 time-stamp server; by default none.
# The time stamp must verify, against VELMOOR_SIGN_TSA_CAFILE (default: the system's roots).
set -euo pipefail
exe=$1 out=$2
mkdir -p "$out"

# A test root and a code-signing certificate it issued. The root's key is dropped once it has
# issued the one certificate, so that a root someone trusted by mistake vouches for nothing else.
make_test_chain() {
    local chain=$1 new=$1.new
    rm -rf "$new" && mkdir -p "$new"
    (
        cd "$new"
        openssl req -x509 -newkey rsa:2048 -noenc -keyout root.key -out root.pem -days 365 \
            -subj "/O=Ostrel RFID (test)/CN=Velmoor throw-away test root" \
            -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign"
        openssl req -new -newkey rsa:2048 -noenc -keyout signer.key \
            -subj "/O=Ostrel RFID (test)/CN=Velmoor TEST signature (not for release)" |
            openssl x509 -req -CA root.pem -CAkey root.key -days 365 -out signer.pem -extfile <(
                printf '%s\n' basicConstraints=critical,CA:false keyUsage=critical,digitalSignature \
                    extendedKeyUsage=codeSigning)
        openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile root.pem \
            -passout pass:throw-away -out signer.p12
        rm root.key signer.key
    ) >/dev/null 2>&1 || { echo "sign-launcher: could not make a test chain in $new" >&2; exit 1; }
    rm -rf "$chain" && mv "$new" "$chain"
}

if [ -n "${VELMOOR_SIGN_PKCS11_MODULE:-}" ]; then
    way=token
    : "${VELMOOR_SIGN_PKCS11_KEY?is not set: VELMOOR_SIGN_PKCS11_MODULE needs the PKCS#11 URI of the key there}"
    : "${VELMOOR_SIGN_CERT?is not set: VELMOOR_SIGN_PKCS11_MODULE needs the certificate and its chain there}"
    engine=${VELMOOR_SIGN_PKCS11_ENGINE:-$(openssl version -e | sed -n 's/^ENGINESDIR: "\(.*\)"$/\1/p')/pkcs11.so}
    [ -f "$engine" ] || { echo "sign-launcher: no pkcs11 engine at $engine (Debian: libengine-pkcs11-openssl)" >&2; exit 1; }
    key_options=(-pkcs11engine "$engine" -pkcs11module "$VELMOOR_SIGN_PKCS11_MODULE"
        -key "$VELMOOR_SIGN_PKCS11_KEY" -certs "$VELMOOR_SIGN_CERT")
    key_file=$VELMOOR_SIGN_CERT
    # The URI's query part may carry the PIN (pin-value): it is named without it.
    key_name="its key on the token, ${VELMOOR_SIGN_PKCS11_KEY%%\?*}"
elif [ -n "${VELMOOR_SIGN_PKCS12:-}" ]; then
    way=pkcs12
    : "${VELMOOR_SIGN_PASSWORD?is not set: VELMOOR_SIGN_PKCS12 needs its password there (empty for none)}"
    key_options=(-pkcs12 "$VELMOOR_SIGN_PKCS12") key_file=$VELMOOR_SIGN_PKCS12 key_name="from $VELMOOR_SIGN_PKCS12"
else
    # The test chain takes the same way through osslsigncode as a real certificate.
    way=test chain=$out/test-chain
    openssl x509 -checkend 86400 -noout -in "$chain/signer.pem" >/dev/null 2>&1 || make_test_chain "$chain"
    key_options=(-pkcs12 "$chain/signer.p12") key_file=$chain/signer.p12
fi

# Signed already from the same launcher, certificate, key, time-stamp server and script: the
# signed file stays as it is, so that a build that changed none of them changes no byte of the
# kit (and asks no token for its PIN).
inputs=$({ cat "$exe" "$key_file" "$0" && echo "${VELMOOR_SIGN_PKCS11_MODULE:-} ${VELMOOR_SIGN_PKCS11_KEY:-}" &&
    echo "${VELMOOR_SIGN_TIMESTAMP_URL:-}"; } | sha256sum)
if [ -f "$out/Velmoor.exe" ] && [ "$(cat "$out/inputs" 2>/dev/null)" = "$inputs" ]; then
    echo "Velmoor.exe stays signed with $(cat "$out/signed-by.txt")"
    exit 0
fi
# Nothing of an earlier signing may pass for this one's if it fails.
rm -f "$out"/{Velmoor.exe,inputs,signed-by.txt,signature.txt,verify-ca.pem,test-signed}

case $way in
    token)
        if [ -n "${VELMOOR_SIGN_PIN+set}" ]; then
            secret=$VELMOOR_SIGN_PIN
        else
            IFS= read -r secret || true
        fi
        [ -n "$secret" ] || {
            echo "sign-launcher: no PIN for the token in VELMOOR_SIGN_PIN or on standard input (which a build does not give)" >&2
            exit 1
        } ;;
    pkcs12) secret=$VELMOOR_SIGN_PASSWORD ;;
    test) secret=throw-away ;;
esac
options=("${key_options[@]}" -h sha256 -comm -n "Ostrel Tarvio Launcher")
# osslsigncode takes an empty password for an error, so no password means no -readpass; for a
# token it hands what it read to the engine as the PIN.
[ -z "$secret" ] || options+=(-readpass /dev/stdin)
[ -z "${VELMOOR_SIGN_TIMESTAMP_URL:-}" ] || options+=(-ts "$VELMOOR_SIGN_TIMESTAMP_URL")
osslsigncode sign "${options[@]}" -in "$exe" -out "$out/Velmoor.exe.new" >/dev/null <<<"$secret" ||
    { echo "sign-launcher: osslsigncode could not sign $exe with $key_file${VELMOOR_SIGN_PKCS11_KEY:+ and ${VELMOOR_SIGN_PKCS11_KEY%%\?*}}" >&2; exit 1; }
unset secret

# What the signature verifies against: the test root, or the chain the signature carries
# together with the system's roots.
if [ $way = test ]; then
    cp "$chain/root.pem" "$out/verify-ca.pem"
else
    osslsigncode extract-signature -pem -in "$out/Velmoor.exe.new" -out "$out/signature.pem" >/dev/null
    {
        openssl pkcs7 -print_certs -in "$out/signature.pem"
        cat /etc/ssl/certs/ca-certificates.crt 2>/dev/null || true
    } >"$out/verify-ca.pem"
    rm "$out/signature.pem"
fi
report=$(osslsigncode verify -CAfile "$out/verify-ca.pem" -in "$out/Velmoor.exe.new" \
    -TSA-CAfile "${VELMOOR_SIGN_TSA_CAFILE:-/etc/ssl/certs/ca-certificates.crt}" 2>&1) ||
    { echo "sign-launcher: the signature does not verify against its own chain:"$'\n'"$report" >&2; exit 1; }
# A time stamp asked for and not there, or not verifying, would leave a signature that dies with
# its certificate: no signature then.
stamped=$(sed -n 's/^\s*Timestamp time: //p' <<<"$report" | head -1)
if [ -n "${VELMOOR_SIGN_TIMESTAMP_URL:-}" ] && ! { [ -n "$stamped" ] &&
    grep -q '^Timestamp Server Signature verification: ok' <<<"$report"; }; then
    echo "sign-launcher: the time stamp of $VELMOOR_SIGN_TIMESTAMP_URL is missing or does not verify:"$'\n'"$report" >&2
    exit 1
fi
if [ -n "$stamped" ]; then
    stamp="It carries a time stamp ($stamped), so it stays valid after the
certificate has expired."
else
    stamp="It carries no time stamp, so Windows takes it as valid only while
the certificate is."
fi
field() { sed -n "/Signer's certificate:/,/Serial/ s/^\s*$1 *: //p" <<<"$report" | head -1; }
subject=$(field Subject) issuer=$(field Issuer)
name=${subject##*/CN=}

if [ $way = test ]; then
    touch "$out/test-signed"
    echo "a throw-away TEST certificate of this build tree (\"$name\"): NOT FOR RELEASE" >"$out/signed-by.txt"
    cat >"$out/signature.txt" <<EOF
TEST SIGNATURE - NOT FOR RELEASE

Velmoor.exe in this kit is signed (Authenticode, SHA-256) with a
throw-away test certificate, made for one build:

  $name
  issued by ${issuer##*/CN=}

No PC trusts it: Windows reports the signature as not trusted. Do
not give this kit to users. A kit for users has no "test-signed" in
its file name and is signed with Ostrel RFID's code-signing
certificate.

$stamp
EOF
else
    echo "the certificate of \"$name\" ($subject, issued by $issuer), $key_name" >"$out/signed-by.txt"
    cat >"$out/signature.txt" <<EOF
Velmoor.exe is signed (Authenticode, SHA-256) by:

  $name
  ($subject,
  certificate issued by ${issuer##*/CN=})

$stamp
EOF
fi
mv "$out/Velmoor.exe.new" "$out/Velmoor.exe"
echo "$inputs" >"$out/inputs"
echo "Velmoor.exe signed ($(stat -c %s "$exe") bytes, now $(stat -c %s "$out/Velmoor.exe")) with $(cat "$out/signed-by.txt")"
