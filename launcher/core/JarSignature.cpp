#include "JarSignature.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "Manifest.h"
#include "Messages.h"
#include "TextEncoding.h"

namespace velmoor {

namespace {

constexpr std::string_view kMetaInf = "META-INF/";
constexpr std::string_view kSignatureFileSuffix = ".SF";
// The blocks this launcher verifies; a DSA block, or another kind ("SIG-*"), signs nothing here.
constexpr std::string_view kBlockSuffixes[] = {".RSA", ".EC"};
constexpr std::string_view kDigestManifest = "SHA-256-Digest-Manifest";
constexpr std::string_view kDigestMainAttributes = "SHA-256-Digest-Manifest-Main-Attributes";
constexpr std::string_view kDigest = "SHA-256-Digest";

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

// The signature file or block's name in upper case, when the entry is one; else empty.
std::string signaturePart(std::string_view name) {
    std::string key = upper(name);
    if (!key.starts_with(kMetaInf) || key.find('/', kMetaInf.size()) != std::string::npos)
        return {};
    const std::string_view file = std::string_view(key).substr(kMetaInf.size());
    if (key == kManifestName || file.ends_with(kSignatureFileSuffix) || file.ends_with(".DSA") ||
        file.starts_with("SIG-") ||
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

// Digests each entry that must be signed as its contents come.
class JarDigests::Consumer final : public EntryConsumer {
  public:
    Consumer(CryptoService& crypto, std::vector<Digest>& digests)
        : crypto_(crypto), digests_(digests) {}
    void begin(std::string_view name) override {
        hash_.reset();
        if (isUnsignedByNature(name)) return;
        name_ = name;
        hash_ = crypto_.startSha256();
    }
    void bytes(std::span<const unsigned char> data) override {
        if (hash_) hash_->update(data);
    }
    void end() override {
        if (hash_) digests_.push_back({std::move(name_), hash_->finish()});
        hash_.reset();
    }

  private:
    CryptoService& crypto_;
    std::vector<Digest>& digests_;
    std::string name_;
    std::unique_ptr<Sha256> hash_;
};

JarDigests::JarDigests(CryptoService& crypto) : crypto_(crypto) {}

JarDigests::~JarDigests() = default;

JarHooks JarDigests::hooks() {
    JarHooks hooks;
    hooks.consumer = [this](std::size_t) {
        workers_.push_back(std::make_unique<std::vector<Digest>>());
        return std::make_unique<Consumer>(crypto_, *workers_.back());
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

    const std::string& wholeDigest() { return digest(whole_, bytes_); }
    const std::string& mainDigest() { return digest(main_, manifest_.main.raw); }

    // The digest of the sections of that name together, in file order.
    std::string sectionsDigest(std::string_view name) const {
        const std::unique_ptr<Sha256> hash = crypto_.startSha256();
        for (auto at = firstNamed(sections_, name); at != sections_.end() && (*at)->name == name;
             ++at)
            hash->update(bytesOf((*at)->raw));
        return base64(hash->finish());
    }

  private:
    const std::string& digest(std::optional<std::string>& made, std::string_view bytes) {
        if (!made) made = base64(sha256Of(crypto_, bytesOf(bytes)));
        return *made;
    }

    CryptoService& crypto_;
    std::string_view bytes_;
    const Manifest& manifest_;
    std::vector<const ManifestSection*> sections_;
    std::optional<std::string> whole_, main_;
};

// Calls sign(name) for each entry whose manifest section the signature file signs, provided its
// digests of the manifest hold; false when they do not, or the file cannot be read.
template <typename Sign>
bool signSections(SignedManifest& manifest, std::string_view signatureFileBytes, Sign&& sign) {
    const std::optional<Manifest> file = parseManifest(signatureFileBytes);
    if (!file) return false;
    const std::string* whole = file->main.find(kDigestManifest);
    const bool wholeSigned = whole && *whole == manifest.wholeDigest();
    // Without the whole manifest, java holds the signature to the manifest's main attributes
    // where the signature file has their digest, then signs each section whose digest matches;
    // sections of one name are digested together.
    const std::string* main = file->main.find(kDigestMainAttributes);
    if (!wholeSigned && main && *main != manifest.mainDigest()) return false;
    for (const ManifestSection& section : file->entries) {
        if (!wholeSigned) {
            const std::string* digest = section.find(kDigest);
            if (!digest || *digest != manifest.sectionsDigest(section.name)) continue;
        }
        sign(section.name);
    }
    return true;
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
    // Sorted by name, the entries that a section names are found by a binary search.
    const auto named = [&](std::string_view name, auto&& mark) {
        auto at = std::ranges::lower_bound(result.entries, name, {}, &JarSignatures::Entry::name);
        for (; at != result.entries.end() && at->name == name; ++at) mark(*at);
    };
    if (!manifest) return result;
    // A name that several sections give has the value of the last, as java merges them.
    for (const ManifestSection& section : manifest->entries) {
        const std::string* value = section.find(kDigest);
        if (!value) continue;
        named(section.name, [&](JarSignatures::Entry& entry) {
            const std::size_t i = static_cast<std::size_t>(&entry - result.entries.data());
            entry.listing = *value == base64(digests[i]->digest) ? JarSignatures::Listing::matches
                                                                 : JarSignatures::Listing::differs;
        });
    }

    // In the order of their names, so that the signers are always named in one order.
    SignedManifest signedManifest(crypto, *manifestBytes, *manifest);
    for (const SignaturePart* part : files) {
        const std::string_view key = part->name;
        if (result.signers.size() == 64 || !isBlock(key)) continue;
        std::string signatureFileName(key.substr(0, key.rfind('.')));
        const std::string* signatureFile = find(signatureFileName.append(kSignatureFileSuffix));
        if (!signatureFile) continue;
        std::optional<BlockSigner> who =
            crypto.verifyBlock(bytesOf(*part->bytes), bytesOf(*signatureFile));
        const std::uint64_t bit = std::uint64_t{1} << result.signers.size();
        const auto sign = [&](std::string_view section) {
            named(section, [&](JarSignatures::Entry& entry) { entry.signedBy |= bit; });
        };
        if (who && signSections(signedManifest, *signatureFile, sign))
            result.signers.push_back(std::move(*who));
    }
    return result;
}

std::vector<Sha256Digest> publisherKeys(const JarSignatures& installed) {
    std::vector<Sha256Digest> keys;
    if (std::ranges::any_of(installed.entries, [](const JarSignatures::Entry& e) {
            return e.listing == JarSignatures::Listing::differs;
        }))
        return keys;
    for (const BlockSigner& signer : installed.signers) keys.push_back(signer.key);
    return keys;
}

std::optional<std::wstring> refusalOf(const std::vector<Sha256Digest>& keys,
                                      const JarSignatures& update) {
    if (keys.empty()) return std::nullopt;
    std::vector<std::wstring> found, publishers;
    std::uint64_t publisherBits = 0;
    for (std::size_t i = 0; i < update.signers.size(); ++i) {
        found.push_back(update.signers[i].subject);
        if (std::ranges::find(keys, update.signers[i].key) == keys.end()) continue;
        publisherBits |= std::uint64_t{1} << i;
        publishers.push_back(update.signers[i].subject);
    }
    if (publishers.empty()) return notFromPublisherText(found, {});
    for (const JarSignatures::Entry& entry : update.entries) {
        if (entry.listing != JarSignatures::Listing::matches || !(entry.signedBy & publisherBits))
            return notFromPublisherText(publishers, fromUtf8(entry.name));
    }
    return std::nullopt;
}

}  // namespace velmoor
