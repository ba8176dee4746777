# Updates of a signed install, with real jars signed by jarsigner (signed-jars.sh lists them);
# sourced by scenarios.sh. Each scenario publishes releases one after another, answering Yes.

install_signed() {  # JAR: the install's jar, from 2020
    make_install
    mkdir -p "$update_folder"
    ln -sfn "$work/drive-i" "$WINEPREFIX/dosdevices/i:"
    cp "$VELMOOR_JARS/signed/$1.jar" "$install/$jar"
    touch -d 2020-01-01 "$install/$jar"
    offers=${offers:-0}  # java's starts count on over installs in one scenario
}

publish_signed() {  # JAR: published, newer than the last
    offers=$((offers + 1))
    cp -p "$install/$jar" "$work/installed.jar"
    cp "$VELMOOR_JARS/signed/$1.jar" "$work/published.jar"
    touch -d "@$((1704067200 + offers * 86400))" "$work/published.jar"  # 2024-01-01 on, a day each
    cp -p "$work/published.jar" "$update_folder/$jar"
}

offer_signed() {  # JAR: published; Yes, and the box that follows answered
    publish_signed "$1"
    drive box=Yes box=OK java
    expect_java "$offers"
}

expect_box_line() {  # LINES: what the box says after the update failure line; the installed jar untouched
    expect "box: An error occured trying to update the application\\r\\n$1"
    expect_installed old
}

not_from_publisher='The new version is not signed by the publisher of the installed version.\r\nSigner found: '
signer() {  # SUBJECT KEY: a signer as the boxes name it
    echo "$1 (key $(head -c 16 "$VELMOOR_JARS/signed/$2.key"))"
}

expect_updated() {
    expect "box: Application Updated !"
    expect_installed new
}

# An install signed with an RSA 2048 key: another publisher's update is refused, naming its
# signer; the publisher's own, under a renewed certificate, is installed; one whose timestamp
# token is older than the installed jar (though its signer's clock said later) is an older
# release, and one stamped later is installed.
scenario_signed_rsa() {
    install_signed v1-rsa
    offer_signed v2-other
    expect_box_line "$not_from_publisher$(signer 'CN=Someone Else, O=Elsewhere, C=NL' other)"
    offer_signed v2-renewed
    expect_updated
    offer_signed v2-tsa-old
    expect_box_line "The new version is an older release than the installed one."
    offer_signed v2-tsa
    expect_updated
}

# The publisher's release made to run a stranger's code as jarsigner does not see it: bytes under a
# folder's name, a second archive in the end comment, a stranger's signature added.
scenario_signed_bypasses() {
    install_signed v1-rsa
    offer_signed v2-rsa-folder
    expect_refused "$offers"
    # Its end records are read before the offer: it is not even offered.
    publish_signed v2-rsa-twice
    drive java
    ! grep -q '^box' "$out" || fail "a jar with a second archive in its end was offered"
    expect_java "$offers"
    expect_installed old
    offer_signed v2-cosigned
    expect_box_line "The new version is also signed with a key that is not one of the publisher's: $(signer 'CN=Someone Else, O=Elsewhere, C=NL' other)"
}

# jarsigner's defaults for an RSA 4096 and P-384 key and its SHA-512 digests: each install pinned
# to its key and taking its own next release; a move from RSA 2048 to RSA 4096 through
# Velmoor-Publisher-Keys; an install signed with Ed25519, which CNG cannot check, takes nothing.
scenario_signed_algorithms() {
    local alg
    for alg in rsa4096 p384 sha512; do
        install_signed "v1-$alg"
        offer_signed v2-other
        expect_box_line "$not_from_publisher$(signer 'CN=Someone Else, O=Elsewhere, C=NL' other)"
        offer_signed "v2-$alg"
        expect_updated
    done
    install_signed v1-rsa
    offer_signed v2-rotate4096
    expect_updated
    offer_signed v3-rsa4096
    expect_updated
    install_signed v1-ed25519
    offer_signed v2-ed25519
    expect_box_line "The installed version is signed only with Ed25519, which this launcher cannot check, so it takes no update."
    # Wine's CNG has no P-521 (Windows' has): it fails closed, naming the algorithm.
    install_signed v1-p521
    offer_signed v2-p521
    expect_box_line "The installed version is signed only with SHA512withECDSA, which this launcher cannot check, so it takes no update."
}

# The signature vectors through the launcher's own crypto: each jar's line as the table gives it,
# which the unit tests check through OpenSSL.
scenario_signature_vectors() {
    local table="$here/../vectors/signature-vectors.txt"
    grep -v '^#' "$table" | cut -d' ' -f1 |
        xargs wine "$programs/verifyjar.exe" "$(winpath "$VELMOOR_JARS/signed")" >"$work/vectors.txt" 2>>"$work/wine.log" ||
        fail "verifyjar failed"
    # Where Wine's CNG lacks what Windows' has, the line after " # wine: ".
    diff <(grep -v '^#' "$table" | sed -E 's/\| .* # wine: /| /') <(tr -d '\r' <"$work/vectors.txt") >"$work/vectors.diff" ||
        fail "the vectors differ: $(cat "$work/vectors.diff")"
}
