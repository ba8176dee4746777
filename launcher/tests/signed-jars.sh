#!/usr/bin/env bash
# Usage: signed-jars.sh FOLDER: makes the signed jars of the signature tests there, once (keytool
# and jarsigner take seconds each). Releases vN-unsigned 1 to 3 of a small application, by the jar
# tool, signed: v1-rsa v2-rsa v1-ec by the publisher's RSA 2048 and EC keys, v2-other by someone
# else's, v3-new by the new EC key alone, v1-resigned by the publisher again, v2-renewed under a
# renewed certificate; v2-both v2-cosigned also by the new key, by someone else; v2-rotate naming
# the new key in Velmoor-Publisher-Keys; v1-ALG v2-ALG by jarsigner's defaults for an rsa4096,
# p384, p521, pss, ed25519 or dsa key, or (sha512) the RSA key with -digestalg SHA-512; v2-tsa-old
# v2-tsa timestamped by a local responder a day behind, then on time.
# Then v2-rsa changed after signing: v2-rsa-changed (a byte of tarvio/Main.class, its CRC made
# anew), -forged (also its digests in the manifest and signature file: only the block's
# messageDigest tells), -extra (tarvio/Extra.class added and listed: the signature file signs the
# manifest's sections only), -metainf (META-INF/versions/9/tarvio/Main.class), -folder (bytes
# under tarvio/Helper.class/), -section (an attribute in a section), -main (its Main-Class),
# -twice (v2-other and a byte in its end comment); v2-partly (Extra.class, then signed by someone
# else), v2-lower (META-INF/publishz.sf and PUBLISHZ.rsa: java pairs names in capitals),
# v2-late-manifest (entries first), v2-cross-key (another key in the certificate), v2-short-digest
# (a 16-byte messageDigest), v2-token-copied (v2-tsa-old's token), v2-sf-renamed (PUBLISHF.SF),
# v2-sf-twice (a second publishe.sf), v2-signers (64 more names: one more signer than are read).
# Its signature file changed and signed anew: v2-nomain (v2-rsa-main, without the digests of the
# whole manifest and its main attributes, as older jarsigners wrote), v2-sections (classes A to D,
# whose sections jarsigner writes C before B, without the whole manifest's), v2-sf-lacks (a section
# for tarvio/A.class, which the manifest lacks), v2-same-name (a second section for Main.class,
# digested with the first), v2-two-digests (a wrong SHA-512 beside its SHA-256), v2-sf-version
# (version 2.0, which java reads as none).
# KEY.key holds the SHA-256 of each key's SubjectPublicKeyInfo in hex.
set -euo pipefail
out=$1
responder=$(cd "$(dirname "$0")/../../dist/tests" && pwd)/timestamp_responder.py
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
key rsa4096 "CN=Tarvio Publisher 4096, O=Ostrel RFID, C=DE" -keyalg RSA -keysize 4096
key p384 "CN=Tarvio Publisher P-384, O=Ostrel RFID, C=DE" -keyalg EC -groupname secp384r1
key p521 "CN=Tarvio Publisher P-521, O=Ostrel RFID, C=DE" -keyalg EC -groupname secp521r1
key pss "CN=Tarvio Publisher PSS, O=Ostrel RFID, C=DE" -keyalg RSASSA-PSS -keysize 2048
key ed25519 "CN=Tarvio Publisher Ed25519, O=Ostrel RFID, C=DE" -keyalg Ed25519
key dsa "CN=Tarvio Publisher DSA, O=Ostrel RFID, C=DE" -keyalg DSA -keysize 2048
sign() {  # JAR ALIAS... [-- JARSIGNER-OPTION...]: signed by each alias in turn
    local jar=$1 options=() aliases=()
    shift
    while [ $# -gt 0 ] && [ "$1" != -- ]; do aliases+=("$1") && shift; done
    [ $# -eq 0 ] || options=("${@:2}")
    for alias in "${aliases[@]}"; do
        jarsigner "${quick[@]}" "${store[@]}" "${options[@]}" "$jar" "$alias" >/dev/null
    done
}
for alias in publisher ecpublisher other newkey rsa4096 p384 p521 pss ed25519 dsa; do  # the value a publisher names a key by
    keytool "${quick[@]}" -exportcert "${store[@]}" -alias $alias | openssl x509 -inform DER -pubkey -noout |
        openssl pkey -pubin -outform DER >$alias.spki
    sha256sum <$alias.spki | cut -c1-64 >$alias.key
done

for release in 1 2 3; do  # a deflated class, a stored resource, and their folders
    mkdir -p "r$release/tarvio/res"
    printf 'class tarvio.Main, release %s\n' "$release" >"r$release/tarvio/Main.class"
    head -c 20000 /dev/zero | tr '\0' "$release" >"r$release/tarvio/res/data.bin"
    jar "${quick[@]}" --create --file "v$release-unsigned.jar" --main-class tarvio.Main -C "r$release" tarvio
    jar "${quick[@]}" --update --file "v$release-unsigned.jar" --no-compress -C "r$release" tarvio/res/data.bin
done
for jar in v1-rsa:publisher v1-ec:ecpublisher v2-rsa:publisher v2-other:other; do
    cp "${jar:0:2}-unsigned.jar" "${jar%:*}.jar" && sign "${jar%:*}.jar" "${jar#*:}"
done
cp v2-unsigned.jar v2-both.jar && sign v2-both.jar publisher newkey
cp v2-rsa.jar v2-cosigned.jar && sign v2-cosigned.jar other
cp v2-unsigned.jar v2-rotate.jar
printf 'Velmoor-Publisher-Keys: %s\n' "$(cat newkey.key)" >rotate.mf
jar "${quick[@]}" --update --file v2-rotate.jar --manifest rotate.mf
sign v2-rotate.jar publisher
cp v3-unsigned.jar v3-new.jar && sign v3-new.jar newkey
for release in 1 2; do
    for alias in rsa4096 p384 p521 pss ed25519 dsa; do
        cp "v$release-unsigned.jar" "v$release-$alias.jar" && sign "v$release-$alias.jar" $alias
    done
    cp "v$release-unsigned.jar" "v$release-sha512.jar" && sign "v$release-sha512.jar" publisher -- -digestalg SHA-512
done
cp v1-unsigned.jar v1-resigned.jar && sign v1-resigned.jar publisher
mkdir -p rs/tarvio && for c in A B C D; do printf 'class tarvio.%s\n' $c >"rs/tarvio/$c.class"; done
cp v2-unsigned.jar v2-sections-whole.jar && jar "${quick[@]}" --update --file v2-sections-whole.jar -C rs tarvio &&
    sign v2-sections-whole.jar publisher
# The publisher's key for openssl, which signs what jarsigner would not write.
keytool "${quick[@]}" -importkeystore -srckeystore keys.p12 -srcstorepass velmoor -srcalias publisher \
    -destkeystore publisher.p12 -deststorepass velmoor -deststoretype pkcs12 2>/dev/null
openssl pkcs12 -in publisher.p12 -passin pass:velmoor -nodes -out publisher.pem 2>/dev/null
keytool "${quick[@]}" -selfcert "${store[@]}" -alias publisher -dname "CN=Tarvio Publisher Renewed, O=Ostrel RFID, C=DE" \
    -validity 7300 2>/dev/null
cp v2-unsigned.jar v2-renewed.jar && sign v2-renewed.jar publisher

stamped() {  # JAR CLOCK: signed by the publisher, stamped by a responder whose clock is CLOCK ("-1d")
    mkdir "tsa$2"
    coproc tsa { FAKETIME_DONT_FAKE_MONOTONIC=1 exec faketime -f "$2" "$responder" "$PWD/tsa$2" 120; }
    local url && read -r -t 60 url <&"${tsa[0]}" && sign "$1" publisher -- -tsa "$url"
    exec {tsa[1]}>&- && wait "$tsa_PID"
}
cp v2-unsigned.jar v2-tsa-old.jar && stamped v2-tsa-old.jar -1d
python3 - <<'EOF'
import base64, hashlib, re, subprocess, zipfile
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
rewrite("v2-rsa.jar", "v2-rsa-extra.jar", extra="tarvio/Extra.class", listed=True)
rewrite("v2-rsa.jar", "v2-rsa-metainf.jar", extra="META-INF/versions/9/tarvio/Main.class")
rewrite("v2-rsa.jar", "v2-rsa-forged.jar", change="tarvio/Main.class", forged=True)
rewrite("v2-rsa.jar", "v2-partly.jar", extra="tarvio/Extra.class")
rewrite("v2-rsa.jar", "v2-rsa-folder.jar", extra="tarvio/Helper.class/")
rewrite("v2-rsa.jar", "v2-sf-twice.jar", extra="META-INF/publishe.sf")
with zipfile.ZipFile("v2-rsa.jar") as jar, zipfile.ZipFile("v2-signers.jar", "w") as out:
    parts = {part: jar.read(f"META-INF/PUBLISHE.{part}") for part in ("SF", "RSA")}
    for info in jar.infolist():
        out.writestr(info, jar.read(info))
    for i, part in ((i, part) for i in range(64) for part in parts):
        out.writestr(f"META-INF/S{i:02}.{part}", parts[part])
def edit(source, target, name, change, rename=lambda n: n):
    with zipfile.ZipFile(source) as jar, zipfile.ZipFile(target, "w") as out:
        for info in jar.infolist():
            data = jar.read(info)
            info.filename = rename(info.filename)
            out.writestr(info, change(data) if info.filename == name else data)
main = lambda m: m.replace(b"Main-Class: tarvio.Main", b"Main-Class: tarvio.Extra")
edit("v2-rsa.jar", "v2-rsa-main.jar", "META-INF/MANIFEST.MF", main)
def resign(source, target, change):  # its signature file changed, and signed anew by the publisher
    with zipfile.ZipFile(source) as jar:
        sf = change(jar.read("META-INF/PUBLISHE.SF"))
    rsa = subprocess.run(["openssl", "cms", "-sign", "-binary", "-outform", "DER", "-md", "sha256", "-nosmimecap",
                          "-signer", "publisher.pem"], input=sf, check=True, capture_output=True).stdout
    signature = {"META-INF/PUBLISHE.SF": sf, "META-INF/PUBLISHE.RSA": rsa}
    with zipfile.ZipFile(source) as jar, zipfile.ZipFile(target, "w") as out:
        for info in jar.infolist():
            out.writestr(info, signature.get(info.filename) or jar.read(info))
resign("v2-rsa-main.jar", "v2-nomain.jar",
       lambda sf: re.sub(rb"SHA-256-Digest-Manifest(-Main-Attributes)?: \S+\r\n( \S+\r\n)*", b"", sf))
unwhole = lambda sf: re.sub(rb"SHA-256-Digest-Manifest: \S+\r\n", b"", sf)
resign("v2-sections-whole.jar", "v2-sections.jar", unwhole)
resign("v2-rsa.jar", "v2-sf-lacks.jar", lambda sf: unwhole(sf) + b"Name: tarvio/A.class\r\nX-Note: 1\r\n\r\n")
resign("v2-rsa.jar", "v2-sf-version.jar", lambda sf: sf.replace(b"Signature-Version: 1.0", b"Signature-Version: 2.0"))
def resection(target, change):  # v2-rsa with tarvio/Main.class's section changed, signed anew
    with zipfile.ZipFile("v2-rsa.jar") as jar:
        main = re.search(rb"Name: tarvio/Main.class\r\n.*?\r\n\r\n", jar.read("META-INF/MANIFEST.MF"), re.S).group(0)
    edit("v2-rsa.jar", "resection.jar", "META-INF/MANIFEST.MF", lambda m: m.replace(main, change(main)))
    resign("resection.jar", target, lambda sf: unwhole(sf).replace(digest(main), digest(change(main))))
resection("v2-same-name.jar", lambda main: main + b"Name: tarvio/Main.class\r\nX-Note: 1\r\n\r\n")
resection("v2-two-digests.jar", lambda main: main[:-2] + b"SHA-512-Digest: " + base64.b64encode(bytes(64)) + b"\r\n\r\n")
edit("v2-rsa.jar", "v2-rsa-section.jar", "META-INF/MANIFEST.MF",
     lambda m: m.replace(b"Name: tarvio/Main.class\r\n", b"Name: tarvio/Main.class\r\nX-Note: 1\r\n"))
edit("v2-rsa.jar", "v2-sf-renamed.jar", "", None, lambda n: n.replace("PUBLISHE.SF", "PUBLISHF.SF"))
edit("v2-rsa.jar", "v2-lower.jar", "", None, lambda n: {
    "META-INF/PUBLISHE.SF": "META-INF/publishz.sf", "META-INF/PUBLISHE.RSA": "META-INF/PUBLISHZ.rsa"}.get(n, n))
with zipfile.ZipFile("v2-rsa.jar") as jar, zipfile.ZipFile("v2-late-manifest.jar", "w") as out:
    for info in sorted(jar.infolist(), key=lambda info: {"tarvio/res/data.bin": 0, "tarvio/Main.class": 1}.get(info.filename, 2)):
        out.writestr(info, jar.read(info))
# A block by the publisher's key that names someone else's; one over a messageDigest cut short.
edit("v2-rsa.jar", "v2-cross-key.jar", "META-INF/PUBLISHE.RSA",
     lambda b: b.replace(open("publisher.spki", "rb").read(), open("other.spki", "rb").read()))
def der(b):  # DER as [tag, contents or elements]
    items, i = [], 0
    while i < len(b):
        tag, n, i = b[i], b[i + 1], i + 2
        if n & 0x80:
            n, i = int.from_bytes(b[i:i + (n & 0x7f)], "big"), i + (n & 0x7f)
        items.append([tag, der(b[i:i + n]) if tag & 0x20 else b[i:i + n]])
        i += n
    return items
def enc(items):
    out = b""
    for tag, v in items:
        v = enc(v) if isinstance(v, list) else v
        size = len(v).to_bytes((len(v).bit_length() + 7) // 8, "big")
        out += bytes([tag]) + (bytes([len(v)]) if len(v) < 128 else bytes([0x80 | len(size)]) + size) + v
    return out
def short(block):
    info = der(block)
    signer = info[0][1][1][1][0][1][-1][1][0][1]
    attributes = next(e for e in signer if e[0] == 0xa0)[1]
    digest = next(a for a in attributes if a[1][0][1] == bytes.fromhex("2a864886f70d010904"))[1][1][1][0]
    digest[1] = digest[1][:16]
    signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", "publisher.pem"], check=True,
                               input=enc([[0x31, attributes]]), capture_output=True).stdout
    next(e for e in signer if e[0] == 0x04)[1] = signature
    return enc(info)
edit("v2-rsa.jar", "v2-short-digest.jar", "META-INF/PUBLISHE.RSA", short)
# A block given another's timestamp token, whose imprint is not that of its own signature.
with zipfile.ZipFile("v2-tsa-old.jar") as jar:
    token = next(e for e in der(jar.read("META-INF/PUBLISHE.RSA"))[0][1][1][1][0][1][-1][1][0][1] if e[0] == 0xa1)
def copied(block):
    info = der(block)
    info[0][1][1][1][0][1][-1][1][0][1].append(token)
    return enc(info)
edit("v2-rsa.jar", "v2-token-copied.jar", "META-INF/PUBLISHE.RSA", copied)
# java scans back for the last end record whose directory and first entry carry their signatures.
twice = bytearray(open("v2-rsa.jar", "rb").read())
hidden = open("v2-other.jar", "rb").read() + b"x"
twice[-2:] = len(hidden).to_bytes(2, "little")
open("v2-rsa-twice.jar", "wb").write(bytes(twice) + hidden)
EOF
sign v2-partly.jar other
cp v2-unsigned.jar v2-tsa.jar && stamped v2-tsa.jar +0
rm -rf "$out" && mkdir -p "$out"
mv ./*.jar ./*.key "$out/"
echo "$made" >"$out/made"
