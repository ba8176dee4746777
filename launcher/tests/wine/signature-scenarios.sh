# Updates of a signed install, with real jars signed by jarsigner (signed-jars.sh lists them);
# sourced by scenarios.sh. Each scenario publishes releases one after another, answering Yes.
publisher_box='box: An error occured trying to update the application\r\nThe new version is not signed by the publisher of the installed version.\r\n'

install_signed() {  # JAR: the install's jar, from 2020
    make_install
    mkdir -p "$update_folder"
    ln -sfn "$work/drive-i" "$WINEPREFIX/dosdevices/i:"
    cp "$VELMOOR_JARS/signed/$1.jar" "$install/$jar"
    touch -d 2020-01-01 "$install/$jar"
    offers=0
}

offer_signed() {  # JAR: published, newer than the last; Yes, and the box that follows answered
    offers=$((offers + 1))
    cp -p "$install/$jar" "$work/installed.jar"
    cp "$VELMOOR_JARS/signed/$1.jar" "$work/published.jar"
    touch -d "2024-01-0$offers" "$work/published.jar"
    cp -p "$work/published.jar" "$update_folder/$jar"
    drive box=Yes box=OK java
    expect_java "$offers"
}

expect_not_from_publisher() {  # LINES: what the box says after the fixed lines; the installed jar untouched
    expect "$publisher_box$1"
    expect_installed old
}

expect_updated() {
    expect "box: Application Updated !"
    expect_installed new
}

# An install signed with an RSA 2048 key: another publisher's update is refused, naming its
# signer; the publisher's own, under a renewed certificate, is installed; an entry added to it
# after signing is refused, and so is one changed with its digests made anew, which only the
# block's messageDigest gives away.
scenario_signed_rsa() {
    install_signed v1-rsa
    offer_signed v2-other
    expect_not_from_publisher 'Signer found: CN=Someone Else, O=Elsewhere, C=NL'
    offer_signed v2-renewed
    expect_updated
    offer_signed v2-rsa-extra
    expect_not_from_publisher 'Signer found: CN=Tarvio Publisher, O=Ostrel RFID, C=DE\r\nUnsigned or changed entry: tarvio/Extra.class'
    offer_signed v2-rsa-forged
    expect_not_from_publisher 'Signer found: none'
}

# An unsigned install takes a signed update as before, and is from then on signed, with an EC
# P-256 key: an unsigned update is refused, and so is the publisher's with one entry changed.
scenario_signed_ec() {
    install_signed v1-unsigned
    offer_signed v2-ec
    expect_updated
    offer_signed v2-unsigned
    expect_not_from_publisher 'Signer found: none'
    offer_signed v2-ec-changed
    expect_not_from_publisher 'Signer found: CN=Tarvio Publisher EC, O=Ostrel RFID, C=DE\r\nUnsigned or changed entry: tarvio/Main.class'
}

# A move to a new key: a release signed by the new key alone is refused until one signed by both
# keys is installed, and is installed after it.
scenario_signed_key_rotation() {
    install_signed v1-rsa
    offer_signed v3-new
    expect_not_from_publisher 'Signer found: CN=Tarvio Publisher 2027, O=Ostrel RFID, C=DE'
    offer_signed v2-both
    expect_updated
    offer_signed v3-new
    expect_updated
}
