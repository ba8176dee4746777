#include "JarDigests.h"

#include <array>

#include "SignatureNames.h"

namespace velmoor {

namespace {

constexpr unsigned kAllAlgorithms = (1u << std::size(kDigestAlgorithms)) - 1;

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

}  // namespace velmoor
