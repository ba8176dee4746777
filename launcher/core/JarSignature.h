#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Crypto.h"
#include "JarCheck.h"

namespace velmoor {

// A jar's jarsigner signatures, read as java's jar verifier reads them. Each signer has a block
// (META-INF/ALIAS.RSA or .EC) that signs its signature file (META-INF/ALIAS.SF); the signature
// file holds SHA-256 digests of the manifest, whole and section by section; the manifest
// (META-INF/MANIFEST.MF) holds the SHA-256 digest of each entry's uncompressed bytes.

// The entries' names and the SHA-256 of their contents, and the signature files and blocks,
// gathered during a pass of the jar check (JarPass) through its hooks, in the one pass that
// inflates and checks every entry.
class JarDigests {
  public:
    explicit JarDigests(CryptoService& crypto);
    ~JarDigests();
    JarDigests(const JarDigests&) = delete;
    JarDigests& operator=(const JarDigests&) = delete;

    // For the pass, which must not outlive this: a consumer for each worker, which digests the
    // entries that must be signed, and the signature files and blocks to keep whole.
    JarHooks hooks();

    struct Digest {
        std::string name;
        Sha256Digest digest;
    };
    // After a complete pass: each worker's digests, in no particular order.
    const std::vector<std::unique_ptr<std::vector<Digest>>>& workers() const { return workers_; }
    // Once the pass has opened the jar: whether its directory names a signature block, without
    // which no signature stands.
    bool hasBlocks() const { return blocks_ > 0; }
    CryptoService& crypto() { return crypto_; }

  private:
    class Consumer;
    CryptoService& crypto_;
    // Each worker's digests, written by that worker alone.
    std::vector<std::unique_ptr<std::vector<Digest>>> workers_;
    std::size_t blocks_ = 0;
};

// The signatures of a jar, and what its entries' digests say.
struct JarSignatures {
    // Those whose block verifies over their signature file, and whose signature file matches the
    // manifest's main attributes (or the whole manifest). The first 64 count.
    std::vector<BlockSigner> signers;

    enum class Listing {
        matches,   // the manifest's SHA-256-Digest for the entry is that of its bytes
        differs,   // the entry's bytes are not those signed
        unlisted,  // no SHA-256-Digest for it in the manifest
    };
    struct Entry {
        std::string name;
        Listing listing = Listing::unlisted;
        // Bit i: signers[i]'s signature file signs the entry's manifest section. That is every
        // section it names when its digest of the whole manifest matches, else those whose own
        // digests match; as in java, an entry it does not name is not signed by it.
        std::uint64_t signedBy = 0;
    };
    // Every entry that must be signed, sorted by name.
    std::vector<Entry> entries;
};

// The signatures of a jar whose pass has completed, from its digests and its kept files.
JarSignatures readSignatures(JarDigests& jar, const KeptFiles& kept);

// The keys that sign the installed jar: those of its signers, provided that no entry's bytes
// differ from what its manifest says (jarsigner would not verify the jar). None for an unsigned
// jar, to which the publisher rule does not apply.
std::vector<Sha256Digest> publisherKeys(const JarSignatures& installed);

// What the user is told when an update may not replace the installed jar; nothing when it may.
// An unsigned install (no publisher's keys) takes any update. A signed one takes an update when at
// least one of its signers holds one of the publisher's keys, and every entry that must be signed
// is listed in the manifest with the digest of its bytes and signed by one of those signers. Keys
// are compared, not certificates: a certificate renewed over the same key signs for the same
// publisher. The text names the signers found, or the publisher's and the entry at fault.
std::optional<std::wstring> refusalOf(const std::vector<Sha256Digest>& publisherKeys,
                                      const JarSignatures& update);

}  // namespace velmoor
