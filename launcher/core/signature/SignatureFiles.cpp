#include "SignatureFiles.h"

#include <algorithm>
#include <array>

#include "Base64.h"
#include "SignatureBlock.h"
#include "SignatureNames.h"
#include "SortedByName.h"
#include "core/Manifest.h"
#include "core/TextEncoding.h"

namespace velmoor {

namespace {

// The manifest as the signature files' digests cover it: each digest is made once, however many
// signers ask for it, and the sections that one name gives (digested together, in file order) are
// found without a search through all of them.
class SignedManifest {
  public:
    SignedManifest(CryptoService& crypto, std::string_view bytes, const Manifest& manifest)
        : crypto_(crypto),
          bytes_(bytes),
          manifest_(manifest),
          sections_(sortedBy(manifest.entries, byNameInPlace<ManifestSection>)) {}

    const std::string& wholeDigest(DigestAlgorithm algorithm) {
        return digest(whole_[algorithm], algorithm, bytes_);
    }
    const std::string& mainDigest(DigestAlgorithm algorithm) {
        return digest(main_[algorithm], algorithm, manifest_.main.raw);
    }

    bool has(std::string_view name) const {
        const auto at = firstNamed(sections_, name);
        return at != sections_.end() && (*at)->name == name;
    }

    // The digest of the sections of that name together, in file order.
    [[gnu::noinline]] std::string sectionsDigest(std::string_view name,
                                                 DigestAlgorithm algorithm) const {
        const std::unique_ptr<Hash> hash = crypto_.startHash(algorithm);
        for (auto at = firstNamed(sections_, name); at != sections_.end() && (*at)->name == name;
             ++at)
            hash->update(bytesOf((*at)->raw));
        return base64(hash->finish());
    }

  private:
    [[gnu::noinline]] const std::string& digest(std::optional<std::string>& made,
                                                DigestAlgorithm algorithm, std::string_view bytes) {
        if (!made) made = base64(digestOf(crypto_, algorithm, bytesOf(bytes)));
        return *made;
    }

    CryptoService& crypto_;
    std::string_view bytes_;
    const Manifest& manifest_;
    std::vector<const ManifestSection*> sections_;
    std::optional<std::string> whole_[std::size(kDigestAlgorithms)],
        main_[std::size(kDigestAlgorithms)];
};

// Calls sign(name) for each entry whose manifest section the signature file signs, and says
// whether it signs the manifest's main attributes. java throws, and loads no class of the jar,
// when a signature file that does not sign the whole manifest has a digest of the main
// attributes, or of a section, that does not match, or names a section the manifest lacks: that
// name goes to `refused`. Sections of one name are digested together.
template <typename Sign>
[[gnu::noinline]] bool signSections(SignedManifest& manifest, const Manifest& file, Sign&& sign,
                                    std::string& refused) {
    // java takes the whole manifest as signed when any digest of it that it can make matches.
    for (const DigestAlgorithm algorithm : kDigestAlgorithms) {
        const std::string* whole = file.main.find(kDigestManifest[algorithm]);
        if (!whole || *whole != manifest.wholeDigest(algorithm)) continue;
        for (const ManifestSection& section : file.entries) sign(section.name);
        return true;
    }
    bool main = false;
    for (const DigestAlgorithm algorithm : kDigestAlgorithms) {
        const std::string* digest = file.main.find(kDigestMainAttributes[algorithm]);
        if (!digest) continue;
        if (*digest != manifest.mainDigest(algorithm)) {
            refused = kManifestName;
            return false;
        }
        main = true;
    }
    for (const ManifestSection& section : file.entries) {
        if (!manifest.has(section.name)) {
            refused = section.name;
            return false;
        }
        bool signs = false;
        for (const DigestAlgorithm algorithm : kDigestAlgorithms) {
            const std::string* digest = section.find(kDigest[algorithm]);
            if (!digest) continue;
            if (*digest != manifest.sectionsDigest(section.name, algorithm)) {
                refused = section.name;
                return false;
            }
            signs = true;
        }
        if (signs) sign(section.name);
    }
    return main;
}

// The keys a manifest's Velmoor-Publisher-Keys names: SHA-256 digests in hex, separated by
// blanks. A value that is not all such names none, so that a typing error shows at once.
[[gnu::noinline]] std::vector<Sha256Digest> namedKeysOf(const Manifest& manifest) {
    std::vector<Sha256Digest> keys;
    const std::string* value = manifest.main.find(kNamedKeysAttribute);
    if (!value) return keys;
    const auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::size_t at = 0;
    while ((at = value->find_first_not_of(" \t", at)) != std::string::npos) {
        const std::size_t end = std::min(value->find_first_of(" \t", at), value->size());
        Sha256Digest& key = keys.emplace_back();
        if (end - at != 2 * key.size()) return {};
        for (std::size_t i = 0; i < key.size(); ++i) {
            const int high = digit((*value)[at + 2 * i]), low = digit((*value)[at + 2 * i + 1]);
            if (high < 0 || low < 0) return {};
            key[i] = static_cast<unsigned char>(high << 4 | low);
        }
        at = end;
    }
    return keys;
}

// When the block says it was signed: the earlier of its signingTime and the time of a timestamp
// token whose imprint is the digest of its signature.
[[gnu::noinline]] std::optional<std::int64_t> signedAt(CryptoService& crypto,
                                                       const std::string& block) {
    const auto times = blockTimesOf(bytesOf(block));
    if (!times) return std::nullopt;
    std::optional<std::int64_t> at = times->signingTime;
    if (times->tokenTime && times->imprintHash != BlockAlgorithm::otherHash &&
        std::ranges::equal(digestOf(crypto, times->imprintHash, times->signature), times->imprint))
        at = at ? std::min(*at, *times->tokenTime) : *times->tokenTime;
    return at;
}

// The entries (sorted by name) of that name, from the first to past the last, found by a binary
// search. Not inlined, as the launcher's size counts.
[[gnu::noinline]] std::pair<std::size_t, std::size_t> namedRange(
    const std::vector<JarSignatures::Entry>& entries, std::string_view name) {
    const auto first = std::ranges::lower_bound(entries, name, {}, &JarSignatures::Entry::name);
    auto last = first;
    while (last != entries.end() && last->name == name) ++last;
    return {static_cast<std::size_t>(first - entries.begin()),
            static_cast<std::size_t>(last - entries.begin())};
}

// Says of each entry whether the manifest lists it with the digests of its bytes. A name that
// several sections give has the value of the last, as java merges them; each digest given must be
// that of the entry's bytes, and one at least must be given.
[[gnu::noinline]] void listEntries(JarSignatures& result, const Manifest& manifest,
                                   const std::vector<const JarDigests::Digest*>& digests) {
    constexpr std::size_t kAlgorithms = std::size(kDigestAlgorithms);
    std::vector<std::array<const std::string*, kAlgorithms>> listed(result.entries.size());
    for (const ManifestSection& section : manifest.entries) {
        for (const DigestAlgorithm algorithm : kDigestAlgorithms) {
            const std::string* value = section.find(kDigest[algorithm]);
            if (!value) continue;
            for (auto [i, end] = namedRange(result.entries, section.name); i < end; ++i)
                listed[i][algorithm] = value;
        }
    }
    for (std::size_t i = 0; i < listed.size(); ++i) {
        for (const DigestAlgorithm algorithm : kDigestAlgorithms) {
            const std::string* value = listed[i][algorithm];
            if (!value) continue;
            const bool same = *value == base64(digests[i]->digests[algorithm]) &&
                              !digests[i]->digests[algorithm].empty();
            auto& listing = result.entries[i].listing;
            if (!same) {
                listing = JarSignatures::Listing::differs;
            } else if (listing == JarSignatures::Listing::unlisted) {
                listing = JarSignatures::Listing::matches;
            }
        }
    }
}

// A signature file or block, by its name in upper case.
struct SignaturePart {
    std::string name;
    const std::string* bytes;
};

}  // namespace

JarSignatures readSignatures(JarDigests& jar, const KeptFiles& kept) {
    CryptoService& crypto = jar.crypto();
    JarSignatures result;
    // The signature files and blocks in the order of their names in upper case. One name given
    // twice, which java would read one way and this check perhaps another, leaves no signature
    // standing.
    std::vector<SignaturePart> parts;
    for (const auto& [name, bytes] : kept) {
        std::string key = signaturePart(name);
        if (!key.empty()) parts.push_back({std::move(key), &bytes});
    }
    const std::vector<const SignaturePart*> files = sortedBy(parts, byName<SignaturePart>);
    const bool ambiguous = std::ranges::adjacent_find(files, {}, [](const SignaturePart* part) {
                               return std::string_view(part->name);
                           }) != files.end();
    const auto find = [&](std::string_view name) -> const std::string* {
        const auto at = firstNamed(files, name);
        return at != files.end() && (*at)->name == name ? (*at)->bytes : nullptr;
    };
    const std::string* manifestBytes = ambiguous ? nullptr : find(kManifestName);
    const std::optional<Manifest> manifest =
        manifestBytes ? parseManifest(*manifestBytes) : std::nullopt;

    std::vector<const JarDigests::Digest*> digests;
    for (const auto& worker : jar.workers()) {
        for (const JarDigests::Digest& digest : *worker) digests.push_back(&digest);
    }
    if (digests.size() > 1)
        std::qsort(digests.data(), digests.size(), sizeof digests[0], byName<JarDigests::Digest>);
    for (const JarDigests::Digest* digest : digests) result.entries.push_back({digest->name});
    if (!manifest) return result;
    listEntries(result, *manifest, digests);
    result.namedKeys = namedKeysOf(*manifest);

    // In the order of their names, so that the signers are always named in one order. As java
    // reads them: a signature file it cannot parse, or not of version 1.0, or a block it cannot
    // parse, signs nothing; a block that does not verify, or a signature file that contradicts
    // the manifest, makes it refuse the jar.
    SignedManifest signedManifest(crypto, *manifestBytes, *manifest);
    for (const SignaturePart* part : files) {
        const std::string_view key = part->name;
        if (result.signers.size() == 64 || !isBlock(key)) continue;
        std::string signatureFileName(key.substr(0, key.rfind('.')));
        const std::string* signatureFile = find(signatureFileName.append(kSignatureFileSuffix));
        const std::optional<Manifest> file =
            signatureFile ? parseManifest(*signatureFile) : std::nullopt;
        const std::string* version = file ? file->main.find(kSignatureVersion) : nullptr;
        const auto algorithm = blockAlgorithmOf(bytesOf(*part->bytes));
        if (!version || *version != "1.0" || !algorithm) continue;
        if (!crypto.reads(*algorithm)) {
            result.unreadAlgorithm = algorithm->name;
            continue;
        }
        bool unsupported = false;
        std::optional<BlockSigner> who =
            crypto.verifyBlock(bytesOf(*part->bytes), bytesOf(*signatureFile), unsupported);
        if (!who) {
            // A key the platform cannot verify with is read no better than an unknown algorithm.
            if (unsupported) {
                result.unreadAlgorithm = algorithm->name;
            } else {
                result.refusedByJava = fromUtf8(part->name);
                result.blockFails = true;
            }
            continue;
        }
        const std::uint64_t bit = std::uint64_t{1} << result.signers.size();
        const auto sign = [&](std::string_view section) {
            for (auto [i, end] = namedRange(result.entries, section); i < end; ++i)
                result.entries[i].signedBy |= bit;
        };
        std::string refused;
        const bool main = signSections(signedManifest, *file, sign, refused);
        if (!refused.empty()) {
            result.refusedByJava = fromUtf8(refused);
            continue;
        }
        result.signers.push_back({std::move(*who), main, signedAt(crypto, *part->bytes)});
    }
    return result;
}

}  // namespace velmoor
