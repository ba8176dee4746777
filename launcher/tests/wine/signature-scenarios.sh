# Updates of a signed install, with real jars signed by jarsigner (signed-jars.sh lists them);
# sourced by scenarios.sh.

# The table on standard input: "install JAR", an install of that jar from 2020; "JAR OUTCOME", JAR
# published, newer than the last, Yes answered, then "updated", or the failure box's reason, with
# "other" (another publisher's key, its signer named) and "older" standing for theirs.
signed_updates() {
    local signed outcome offers=0
    while read -r signed outcome; do
        if [ "$signed" = install ]; then
            publish && cp "$VELMOOR_JARS/signed/$outcome.jar" "$install/$jar" && touch -d 2020-01-01 "$install/$jar"
            continue
        fi
        offers=$((offers + 1))
        cp -p "$install/$jar" "$work/installed.jar"
        cp "$VELMOOR_JARS/signed/$signed.jar" "$work/published.jar"
        touch -d "@$((1704067200 + offers * 86400))" "$work/published.jar"  # 2024-01-01 on, a day each
        cp -p "$work/published.jar" "$update_folder/$jar"
        drive box=Yes box=OK java
        expect_java "$offers"
        case $outcome in
        updated) expect "box: Application Updated !" && expect_installed new && continue ;;
        other) outcome="The new version is not signed by the publisher of the installed version.\\r\\nSigner found: \
CN=Someone Else, O=Elsewhere, C=NL (key $(head -c 16 "$VELMOOR_JARS/signed/other.key"))" ;;
        older) outcome="The new version is an older release than the installed one." ;;
        esac
        expect "box: An error occured trying to update the application\\r\\n$outcome"
        expect_installed old
    done
}

# An RSA 2048 install refuses another publisher's update, takes its own under a renewed certificate,
# refuses one whose timestamp token is older than the installed jar (its signer's clock said later)
# and takes one stamped later; installs by jarsigner's defaults for RSA 4096 and P-384 keys, and
# SHA-512 digests, are each pinned to their key and take their own next release.
scenario_signed_updates() {
    signed_updates <<'END'
install v1-rsa
v2-other other
v2-renewed updated
v2-tsa-old older
v2-tsa updated
install v1-rsa4096
v2-other other
v2-rsa4096 updated
install v1-p384
v2-other other
v2-p384 updated
install v1-sha512
v2-other other
v2-sha512 updated
END
}

# The signature vectors through the launcher's own crypto, as the unit tests check them with OpenSSL.
scenario_signature_vectors() {
    local table="$here/../vectors/signature-vectors.txt"
    grep -v '^#' "$table" | cut -d' ' -f1 |
        xargs wine "$programs/verifyjar.exe" "$(winpath "$VELMOOR_JARS/signed")" >"$work/vectors.txt" 2>>"$work/wine.log" ||
        fail "verifyjar failed"
    # Where Wine's CNG lacks what Windows' has, the line after " # wine: ".
    diff <(grep -v '^#' "$table" | sed -E 's/\| .* # wine: /| /') <(tr -d '\r' <"$work/vectors.txt") >"$work/vectors.diff" ||
        fail "the vectors differ: $(cat "$work/vectors.diff")"
}
