// Fuzz target: the signature rules' readers. The input is cut at each "\n--\n" into a manifest, a
// signature file, its block and the bytes of one entry, read as a jar's. SHA-256 is the unit tests'
// OpenSSL one; a block counts as signed by one key whenever its signed attributes can be found.
// Whatever the bytes, nothing is read outside them, and the key's update is taken only when the
// entry's digest matches.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "OpenSslCrypto.h"
#include "core/signature/PublisherRule.h"
#include "core/signature/SignatureBlock.h"

namespace {

using namespace velmoor;

struct AnyBlock final : OpenSslCrypto {
    std::optional<BlockSigner> verifyBlock(std::span<const unsigned char> block,
                                           std::span<const unsigned char>, bool&) override {
        rawEcdsaSignature(block, 32);
        if (!signedAttributesOf(block)) return std::nullopt;
        return BlockSigner{{}, L"CN=Fuzz"};
    }
    bool reads(const BlockAlgorithm&) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts;
    for (std::size_t cut; parts.size() < 3 && (cut = input.find("\n--\n")) != input.npos;
         input.remove_prefix(cut + 4))
        parts.push_back(input.substr(0, cut));
    parts.push_back(input);
    parts.resize(4);
    AnyBlock crypto;
    JarDigests jar(crypto);
    // As a pass would: the kept files asked of during open, then an entry's consumer.
    const JarHooks hooks = jar.hooks();
    for (const char* name : {"META-INF/MANIFEST.MF", "META-INF/A.SF", "META-INF/A.RSA"})
        hooks.keep(name);
    const std::unique_ptr<EntryConsumer> entry = hooks.consumer(0);
    entry->begin("tarvio/Main.class");
    entry->bytes({reinterpret_cast<const unsigned char*>(parts[3].data()), parts[3].size()});
    entry->end();
    const KeptFiles kept{{"META-INF/MANIFEST.MF", std::string(parts[0])},
                         {"META-INF/A.SF", std::string(parts[1])},
                         {"META-INF/A.RSA", std::string(parts[2])}};
    const JarSignatures signatures = readSignatures(jar, kept);
    const bool accepted = !refusalOf(Publisher{{Sha256Digest{}}, {}, {}}, signatures, 0);
    if (accepted && signatures.entries.at(0).listing != JarSignatures::Listing::matches) abort();
    return 0;
}
