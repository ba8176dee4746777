#!/usr/bin/env bash
# Usage: signed-jars.sh FOLDER: makes the signed jars of the signature tests there, once (keytool
# and jarsigner take seconds each). Releases 1 to 3 of a small application, made by the jar tool:
#   v1-unsigned v1-rsa v1-ec               release 1, unsigned, by the publisher's RSA 2048 key, by
#                                          its EC P-256 key
#   v2-unsigned v2-rsa v2-ec v2-other      release 2, likewise, and by someone else's RSA key
#   v2-renewed                             by the publisher's RSA key under a renewed certificate
#   v2-rsa-changed v2-ec-changed           v2-rsa/v2-ec with one byte of tarvio/Main.class changed
#                                          (its CRC recomputed, the archive sound)
#   v2-rsa-extra                           v2-rsa with an entry added, tarvio/Extra.class, and
#                                          its digest in the manifest: the signature file no
#                                          longer signs the whole manifest, only its sections
#   v2-rsa-metainf                         v2-rsa with META-INF/versions/9/tarvio/Main.class
#                                          added, which a multi-release jar would load
#   v2-rsa-forged                          v2-rsa with tarvio/Main.class changed and every digest
#                                          of it in the manifest and signature file made anew:
#                                          only the block's messageDigest tells
#   v2-both v3-new                         signed by the RSA key and the new EC key, then the new
#                                          key alone: a move to a new key
set -euo pipefail
out=$1
# Made again whenever this script changes.
made=$(sha256sum <"$0")
[ "$(cat "$out/made" 2>/dev/null)" != "$made" ] || exit 0
mkdir -p "$(dirname "$out")"
work=$(mktemp -d "${out%/}.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# A JVM that compiles little starts in half the time, which is all these short runs take.
quick=(-J-XX:TieredStopAtLevel=1 -J-XX:+UseSerialGC)
store=(-keystore keys.p12 -storepass velmoor -storetype pkcs12)
key() {  # ALIAS DNAME KEYTOOL-OPTION...
    keytool "${quick[@]}" -genkeypair "${store[@]}" -alias "$1" -dname "$2" -validity 3650 "${@:3}" 2>/dev/null
}
key publisher "CN=Tarvio Publisher, O=Ostrel RFID, C=DE" -keyalg RSA -keysize 2048
key ecpublisher "CN=Tarvio Publisher EC, O=Ostrel RFID, C=DE" -keyalg EC -groupname secp256r1
key other "CN=Someone Else, O=Elsewhere, C=NL" -keyalg RSA -keysize 2048
key newkey "CN=Tarvio Publisher 2027, O=Ostrel RFID, C=DE" -keyalg EC -groupname secp256r1
sign() {  # JAR ALIAS...: signed by each alias in turn
    for alias in "${@:2}"; do jarsigner "${quick[@]}" "${store[@]}" "$1" "$alias" >/dev/null; done
}

for release in 1 2 3; do  # a deflated class, a stored resource, and their folders
    mkdir -p "r$release/tarvio/res"
    printf 'class tarvio.Main, release %s\n' "$release" >"r$release/tarvio/Main.class"
    head -c 20000 /dev/zero | tr '\0' "$release" >"r$release/tarvio/res/data.bin"
    jar "${quick[@]}" --create --file "v$release-unsigned.jar" --main-class tarvio.Main -C "r$release" tarvio
    jar "${quick[@]}" --update --file "v$release-unsigned.jar" --no-compress -C "r$release" tarvio/res/data.bin
done
for release in 1 2; do
    for alias in rsa:publisher ec:ecpublisher; do
        cp "v$release-unsigned.jar" "v$release-${alias%%:*}.jar" && sign "v$release-${alias%%:*}.jar" "${alias#*:}"
    done
done
cp v2-unsigned.jar v2-other.jar && sign v2-other.jar other
cp v2-unsigned.jar v2-both.jar && sign v2-both.jar publisher newkey
cp v3-unsigned.jar v3-new.jar && sign v3-new.jar newkey
keytool "${quick[@]}" -selfcert "${store[@]}" -alias publisher -dname "CN=Tarvio Publisher Renewed, O=Ostrel RFID, C=DE" \
    -validity 7300 2>/dev/null
cp v2-unsigned.jar v2-renewed.jar && sign v2-renewed.jar publisher

python3 - <<'EOF'
import base64, hashlib, re, zipfile
EXTRA = b"class tarvio.Extra\n"
def digest(data):
    return base64.b64encode(hashlib.sha256(data).digest())
def forge(files):  # the digests of the changed class, and of the manifest, made anew
    manifest, sf = files["META-INF/MANIFEST.MF"], files["META-INF/PUBLISHE.SF"]
    section = lambda m: re.search(rb"Name: tarvio/Main.class\r\n.*?\r\n\r\n", m, re.S).group(0)
    old = section(manifest)
    manifest = manifest.replace(old, re.sub(rb"Digest: \S+", b"Digest: " + digest(files["tarvio/Main.class"]), old))
    sf = sf.replace(digest(old), digest(section(manifest)))
    sf = re.sub(rb"Digest-Manifest: \S+", b"Digest-Manifest: " + digest(manifest), sf)
    files.update({"META-INF/MANIFEST.MF": manifest, "META-INF/PUBLISHE.SF": sf})
def rewrite(source, target, change=None, extra=None, forged=False, listed=False):
    with zipfile.ZipFile(source) as jar, zipfile.ZipFile(target, "w") as out:
        files = {info.filename: jar.read(info) for info in jar.infolist()}
        if change:
            data = files[change]
            files[change] = data[:-2] + bytes([data[-2] ^ 1]) + data[-1:]
        if forged:
            forge(files)
        if listed:
            files["META-INF/MANIFEST.MF"] += b"Name: " + extra.encode() + b"\r\nSHA-256-Digest: " + digest(EXTRA) + b"\r\n\r\n"
        for info in jar.infolist():
            out.writestr(info, files[info.filename])
        if extra:
            out.writestr(zipfile.ZipInfo(extra), EXTRA, zipfile.ZIP_DEFLATED)
rewrite("v2-rsa.jar", "v2-rsa-changed.jar", change="tarvio/Main.class")
rewrite("v2-ec.jar", "v2-ec-changed.jar", change="tarvio/Main.class")
rewrite("v2-rsa.jar", "v2-rsa-extra.jar", extra="tarvio/Extra.class", listed=True)
rewrite("v2-rsa.jar", "v2-rsa-metainf.jar", extra="META-INF/versions/9/tarvio/Main.class")
rewrite("v2-rsa.jar", "v2-rsa-forged.jar", change="tarvio/Main.class", forged=True)
EOF
rm -rf "$out" && mkdir -p "$out"
mv ./*.jar "$out/"
echo "$made" >"$out/made"
