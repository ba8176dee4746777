#include "PublisherRule.h"

#include <algorithm>

#include "core/JarCheck.h"
#include "core/Messages.h"
#include "core/TextEncoding.h"

namespace velmoor {

namespace {

// Whether signers[i] signs every entry that must be signed, each listed with its bytes' digest.
bool signsEveryEntry(const JarSignatures& jar, std::size_t i) {
    return std::ranges::all_of(jar.entries, [&](const JarSignatures::Entry& e) {
        return e.listing == JarSignatures::Listing::matches && (e.signedBy >> i & 1) != 0;
    });
}

bool contains(const std::vector<Sha256Digest>& keys, const Sha256Digest& key) {
    return std::ranges::find(keys, key) != keys.end();
}

std::wstring nameOf(const BlockSigner& signer) {
    static constexpr wchar_t kHex[] = L"0123456789abcdef";
    std::wstring digits;
    for (std::size_t i = 0; i < 8; ++i) {
        digits += kHex[signer.key[i] >> 4];
        digits += kHex[signer.key[i] & 15];
    }
    return signerText(signer.subject, digits);
}

}  // namespace

Publisher publisherOf(const JarSignatures& installed) {
    Publisher publisher;
    for (std::size_t i = 0; i < installed.signers.size(); ++i) {
        if (!signsEveryEntry(installed, i)) continue;
        const JarSignatures::Signer& signer = installed.signers[i];
        if (!contains(publisher.keys, signer.who.key)) publisher.keys.push_back(signer.who.key);
        if (signer.signedAt)
            publisher.signedAt = std::max(publisher.signedAt.value_or(0), *signer.signedAt);
        if (!signer.signsMainAttributes) continue;
        for (const Sha256Digest& key : installed.namedKeys)
            if (!contains(publisher.keys, key)) publisher.keys.push_back(key);
    }
    // Signed, but in no way read here, or by signatures that do not verify (the crypto may be
    // what failed): not taken for unsigned.
    if (publisher.keys.empty()) {
        publisher.unreadAlgorithm = installed.unreadAlgorithm;
        publisher.blockFails = installed.blockFails;
    }
    return publisher;
}

std::optional<std::wstring> refusalOf(const Publisher& installed, const JarSignatures& update,
                                      std::int64_t now) {
    if (!update.refusedByJava.empty()) return javaRefusesSignatureText(update.refusedByJava);
    if (!installed.unreadAlgorithm.empty())
        return unreadSignatureText(installed.unreadAlgorithm, true);
    if (installed.blockFails) return std::wstring(kInstalledSignatureFails);
    if (installed.keys.empty()) return std::nullopt;
    if (!update.unreadAlgorithm.empty()) return unreadSignatureText(update.unreadAlgorithm, false);
    std::vector<std::wstring> found, publishers;
    std::uint64_t publisherBits = 0;
    bool taken = false;
    std::optional<std::int64_t> signedAt;
    for (std::size_t i = 0; i < update.signers.size(); ++i) {
        const JarSignatures::Signer& signer = update.signers[i];
        found.push_back(nameOf(signer.who));
        if (!contains(installed.keys, signer.who.key)) continue;
        publisherBits |= std::uint64_t{1} << i;
        publishers.push_back(found.back());
        if (!signer.signsMainAttributes || !signsEveryEntry(update, i)) continue;
        taken = true;
        if (signer.signedAt) signedAt = std::max(signedAt.value_or(0), *signer.signedAt);
    }
    if (!taken) {
        if (publishers.empty()) return notFromPublisherText(found, {});
        for (const JarSignatures::Entry& entry : update.entries) {
            if (entry.listing != JarSignatures::Listing::matches ||
                !(entry.signedBy & publisherBits))
                return notFromPublisherText(publishers, fromUtf8(entry.name));
        }
        // Every entry signed, but not the main attributes (a Main-Class or Class-Path of
        // someone else's).
        return notFromPublisherText(publishers, fromUtf8(kManifestName));
    }
    constexpr std::int64_t kDay = 86400;
    if (signedAt && installed.signedAt && *installed.signedAt - now <= kDay &&
        *signedAt < *installed.signedAt)
        return std::wstring(kOlderRelease);
    // Every other signer is the publisher, or a key the publisher's signature names.
    for (const JarSignatures::Signer& signer : update.signers) {
        if (!contains(installed.keys, signer.who.key) &&
            !contains(update.namedKeys, signer.who.key))
            return std::wstring(kStrangerKey) + nameOf(signer.who);
    }
    return std::nullopt;
}

}  // namespace velmoor
