#!/usr/bin/env bash
# sign-launcher.sh EXE OUT: signs the launcher with Authenticode (SHA-256, the certificate's chain
# included) into OUT/Velmoor.exe, and writes beside it what the kit and the build say about it:
#   signed-by.txt  one line: who signed it
#   signature.txt  the install guide's paragraph on the signature
#   verify-ca.pem  the certificates the signature verifies against
#   test-signed    there only when the signature is a test one
#   inputs         a digest of what the signature was made from
# The certificate: VELMOOR_SIGN_PKCS12 names a PKCS#12 file (the key, its certificate and the
# chain), VELMOOR_SIGN_PASSWORD its password. Without them the launcher is signed with a
# throw-away chain of this build tree (OUT/test-chain, made once): no PC trusts it.
# VELMOOR_SIGN_TIMESTAMP_URL, when set, names an RFC 3161 time-stamp server; by default none.
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

if [ -n "${VELMOOR_SIGN_PKCS12:-}" ]; then
    : "${VELMOOR_SIGN_PASSWORD?is not set: VELMOOR_SIGN_PKCS12 needs its password there (empty for none)}"
    pkcs12=$VELMOOR_SIGN_PKCS12 password=$VELMOOR_SIGN_PASSWORD
else
    # The test chain takes the same way through osslsigncode as a real certificate.
    chain=$out/test-chain pkcs12=$out/test-chain/signer.p12 password=throw-away
    openssl x509 -checkend 86400 -noout -in "$chain/signer.pem" >/dev/null 2>&1 || make_test_chain "$chain"
fi

# Signed already from the same launcher, certificate, time-stamp server and script: the signed
# file stays as it is, so that a build that changed none of them changes no byte of the kit.
inputs=$({ cat "$exe" "$pkcs12" "$0" && echo "${VELMOOR_SIGN_TIMESTAMP_URL:-}"; } | sha256sum)
if [ -f "$out/Velmoor.exe" ] && [ "$(cat "$out/inputs" 2>/dev/null)" = "$inputs" ]; then
    echo "Velmoor.exe stays signed with $(cat "$out/signed-by.txt")"
    exit 0
fi
# Nothing of an earlier signing may pass for this one's if it fails.
rm -f "$out"/{Velmoor.exe,inputs,signed-by.txt,signature.txt,verify-ca.pem,test-signed}

options=(-pkcs12 "$pkcs12" -h sha256 -comm -n "Ostrel Tarvio Launcher")
# The password comes on standard input, not on the command line that ps shows; osslsigncode
# takes an empty one for an error, so no password means no -readpass.
[ -z "$password" ] || options+=(-readpass /dev/stdin)
[ -z "${VELMOOR_SIGN_TIMESTAMP_URL:-}" ] || options+=(-ts "$VELMOOR_SIGN_TIMESTAMP_URL")
osslsigncode sign "${options[@]}" -in "$exe" -out "$out/Velmoor.exe.new" >/dev/null <<<"$password" ||
    { echo "sign-launcher: osslsigncode could not sign $exe with $pkcs12" >&2; exit 1; }

# What the signature verifies against: the test root, or the chain the signature carries
# together with the system's roots.
if [ -z "${VELMOOR_SIGN_PKCS12:-}" ]; then
    cp "$chain/root.pem" "$out/verify-ca.pem"
else
    osslsigncode extract-signature -pem -in "$out/Velmoor.exe.new" -out "$out/signature.pem" >/dev/null
    {
        openssl pkcs7 -print_certs -in "$out/signature.pem"
        cat /etc/ssl/certs/ca-certificates.crt 2>/dev/null || true
    } >"$out/verify-ca.pem"
    rm "$out/signature.pem"
fi
report=$(osslsigncode verify -CAfile "$out/verify-ca.pem" -in "$out/Velmoor.exe.new" 2>&1) ||
    { echo "sign-launcher: the signature does not verify against its own chain:"$'\n'"$report" >&2; exit 1; }
field() { sed -n "/Signer's certificate:/,/Serial/ s/^\s*$1 *: //p" <<<"$report" | head -1; }
subject=$(field Subject) issuer=$(field Issuer)
name=${subject##*/CN=}

if [ -z "${VELMOOR_SIGN_PKCS12:-}" ]; then
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
EOF
else
    echo "the certificate of \"$name\" ($subject, issued by $issuer) from $pkcs12" >"$out/signed-by.txt"
    if [ -n "${VELMOOR_SIGN_TIMESTAMP_URL:-}" ]; then
        stamp="It carries a time stamp, so it stays valid after the certificate
has expired."
    else
        stamp="It carries no time stamp, so Windows takes it as valid only while
the certificate is."
    fi
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
