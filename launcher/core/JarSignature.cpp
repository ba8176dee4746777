#include "JarSignature.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

#include "Manifest.h"
#include "Messages.h"
#include "TextEncoding.h"

namespace velmoor {

namespace {

constexpr std::string_view kMetaInf = "META-INF/";
constexpr std::string_view kSignatureFileSuffix = ".SF";
// The blocks java verifies (a "SIG-*" file is signature-related, but java verifies none).
constexpr std::string_view kBlockSuffixes[] = {".RSA", ".EC", ".DSA"};
// The digests' attribute names, by DigestAlgorithm (in the order of kDigestAlgorithms): of an
// entry or a section, of the whole manifest, of its main attributes; and an entry's in upper case
// with its colon, as found in a manifest's text.
constexpr std::string_view kDigest[] = {"SHA-256-Digest", "SHA-384-Digest", "SHA-512-Digest"};
constexpr std::string_view kDigestManifest[] = {
    "SHA-256-Digest-Manifest", "SHA-384-Digest-Manifest", "SHA-512-Digest-Manifest"};
constexpr std::string_view kDigestMainAttributes[] = {"SHA-256-Digest-Manifest-Main-Attributes",
                                                      "SHA-384-Digest-Manifest-Main-Attributes",
                                                      "SHA-512-Digest-Manifest-Main-Attributes"};
constexpr std::string_view kDigestInText[] = {
    "SHA-256-DIGEST:", "SHA-384-DIGEST:", "SHA-512-DIGEST:"};
constexpr unsigned kAllAlgorithms = (1u << std::size(kDigestAlgorithms)) - 1;
constexpr std::string_view kSignatureVersion = "Signature-Version";
// The main attribute by which a publisher names its keys: a new key is named by a release that
// the current key signs, and signs for the publisher from then on.
constexpr std::string_view kPublisherKeys = "Velmoor-Publisher-Keys";

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = upperAscii(c);
    }
    return result;
}

// The signature file or block's name in upper case, when the entry is one; else empty.
std::string signaturePart(std::string_view name) {
    std::string key = upper(name);
    if (!key.starts_with(kMetaInf) || key.find('/', kMetaInf.size()) != std::string::npos)
        return {};
    const std::string_view file = std::string_view(key).substr(kMetaInf.size());
    if (key == kManifestName || file.ends_with(kSignatureFileSuffix) || file.starts_with("SIG-") ||
        std::ranges::any_of(kBlockSuffixes, [&](auto suffix) { return file.ends_with(suffix); }))
        return key;
    return {};
}

bool isBlock(std::string_view key) {
    return std::ranges::any_of(kBlockSuffixes, [&](auto suffix) { return key.ends_with(suffix); });
}

bool isKept(std::string_view key) {
    return key == kManifestName || key.ends_with(kSignatureFileSuffix) || isBlock(key);
}

std::span<const unsigned char> bytesOf(std::string_view text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// Whether an entry is one that signatures do not cover: a directory, or one of the files that
// make up the signatures themselves (the manifest, and the signature files and blocks directly
// in META-INF), its name compared without regard to case, as java compares it. Every other
// entry, META-INF's own included (java loads a multi-release jar's classes from
// META-INF/versions/), must be signed.
bool isUnsignedByNature(std::string_view name) {
    return name.ends_with('/') || !signaturePart(name).empty();
}

// The standard Base64 of bytes, with padding, as the manifest and signature files hold digests.
std::string base64(std::span<const unsigned char> bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) group = group << 8 | (k < left ? bytes[i + k] : 0);
        for (std::size_t k = 0; k < 4; ++k)
            text += k <= left ? kAlphabet[(group >> (18 - 6 * k)) & 0x3f] : '=';
    }
    return text;
}

}  // namespace

// Digests each entry that must be signed as its contents come, with each algorithm that the
// manifest's entry digests use; until the manifest has been read (it comes first in any jar a
// jar tool writes), with all of them.
class JarDigests::Consumer final : public EntryConsumer {
  public:
    Consumer(JarDigests& jar, std::vector<Digest>& digests) : jar_(jar), digests_(digests) {}
    void begin(std::string_view name) override {
        hashes_ = {};
        manifest_ = name == kManifestName;
        text_.clear();
        // A jar without a signature block has no signature to check its digests against.
        if (isUnsignedByNature(name) || jar_.blocks_ == 0) return;
        name_ = name;
        const unsigned algorithms = jar_.algorithms_.load(std::memory_order_acquire);
        for (const DigestAlgorithm algorithm : kDigestAlgorithms) {
            if (algorithms >> algorithm & 1) hashes_[algorithm] = jar_.crypto_.startHash(algorithm);
        }
    }
    void bytes(std::span<const unsigned char> data) override {
        for (const auto& hash : hashes_)
            if (hash) hash->update(data);
        if (manifest_) text_.append(data.begin(), data.end());
    }
    void end() override {
        if (manifest_) jar_.algorithms_.store(algorithmsIn(text_), std::memory_order_release);
        if (!name_.empty()) {
            Digest& digest = digests_.emplace_back();
            digest.name = std::move(name_);
            for (std::size_t i = 0; i < hashes_.size(); ++i)
                if (hashes_[i]) digest.digests[i] = hashes_[i]->finish();
        }
        name_.clear();
        hashes_ = {};
    }

  private:
    // The algorithms of the entry digests a manifest holds, by their names in any case.
    static unsigned algorithmsIn(std::string_view manifest) {
        const std::string text = upper(manifest);
        unsigned algorithms = 0;
        for (const DigestAlgorithm algorithm : kDigestAlgorithms) {
            if (text.find(kDigestInText[algorithm]) != std::string::npos)
                algorithms |= 1u << algorithm;
        }
        return algorithms;
    }

    JarDigests& jar_;
    std::vector<Digest>& digests_;
    std::string name_;
    bool manifest_ = false;
    std::string text_;
    std::array<std::unique_ptr<Hash>, std::size(kDigestAlgorithms)> hashes_;
};

JarDigests::JarDigests(CryptoService& crypto) : crypto_(crypto) {}

JarDigests::~JarDigests() = default;

JarHooks JarDigests::hooks() {
    JarHooks hooks;
    algorithms_.store(kAllAlgorithms);
    hooks.consumer = [this](std::size_t) {
        workers_.push_back(std::make_unique<std::vector<Digest>>());
        return std::make_unique<Consumer>(*this, *workers_.back());
    };
    hooks.keep = [this](std::string_view name) {
        const std::string key = signaturePart(name);
        blocks_ += isBlock(key);
        return isKept(key);
    };
    return hooks;
}

namespace {

// By name, for the C library's sort: the template sorts would cost the launcher's size more.
template <typename T>
int byName(const void* a, const void* b) {
    return (*static_cast<const T* const*>(a))
        ->name.compare((*static_cast<const T* const*>(b))->name);
}

// Sections of one name keep their file order, as they are digested together.
int byNameInFileOrder(const void* a, const void* b) {
    const int order = byName<ManifestSection>(a, b);
    if (order != 0) return order;
    const auto* x = *static_cast<const ManifestSection* const*>(a);
    const auto* y = *static_cast<const ManifestSection* const*>(b);
    return x < y ? -1 : x > y;
}

template <typename T>
std::vector<const T*> sortedBy(const std::vector<T>& items,
                               int (*order)(const void*, const void*)) {
    std::vector<const T*> sorted;
    for (const T& item : items) sorted.push_back(&item);
    if (sorted.size() > 1) std::qsort(sorted.data(), sorted.size(), sizeof sorted[0], order);
    return sorted;
}

// The first of those sorted by name that has the name.
template <typename T>
auto firstNamed(const std::vector<const T*>& sorted, std::string_view name) {
    return std::ranges::lower_bound(sorted, name, {},
                                    [](const T* item) -> std::string_view { return item->name; });
}

// The manifest as the signature files' digests cover it: each digest is made once, however many
// signers ask for it, and the sections that one name gives are found without a search through
// all of them.
class SignedManifest {
  public:
    SignedManifest(CryptoService& crypto, std::string_view bytes, const Manifest& manifest)
        : crypto_(crypto),
          bytes_(bytes),
          manifest_(manifest),
          sections_(sortedBy(manifest.entries, byNameInFileOrder)) {}

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
    const std::string* value = manifest.main.find(kPublisherKeys);
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
            // An installed jar signed so takes no update: the crypto may be what failed.
            if (!unsupported) result.refusedByJava = fromUtf8(part->name);
            if (result.unreadAlgorithm.empty() || unsupported)
                result.unreadAlgorithm = algorithm->name;
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
    // Signed, but in no way read here: not taken for unsigned.
    if (publisher.keys.empty()) publisher.unreadAlgorithm = installed.unreadAlgorithm;
    return publisher;
}

std::optional<std::wstring> refusalOf(const Publisher& installed, const JarSignatures& update,
                                      std::int64_t now) {
    if (!update.refusedByJava.empty()) return javaRefusesSignatureText(update.refusedByJava);
    if (!installed.unreadAlgorithm.empty())
        return unreadSignatureText(installed.unreadAlgorithm, true);
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
