#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iterator>
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
// file holds digests (SHA-256, SHA-384 or SHA-512) of the manifest, whole and section by section;
// the manifest (META-INF/MANIFEST.MF) holds the digest of each entry's uncompressed bytes.

// The entries' names and the digests of their contents, and the signature files and blocks,
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
        // By DigestAlgorithm; empty where the algorithm was not needed.
        std::vector<unsigned char> digests[std::size(kDigestAlgorithms)];
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
    // The algorithms (bit DigestAlgorithm) that the workers digest entries with: all of them
    // until the manifest has been read, then those its entry digests use.
    std::atomic<unsigned> algorithms_{0};
    // Each worker's digests, written by that worker alone.
    std::vector<std::unique_ptr<std::vector<Digest>>> workers_;
    std::size_t blocks_ = 0;
};

// The signatures of a jar, and what its entries' digests say.
struct JarSignatures {
    struct Signer {
        BlockSigner who;
        // Its signature file's digest of the whole manifest, or of its main attributes, holds.
        bool signsMainAttributes = false;
        // When it signed, in seconds since 1601-01-01 UTC: its signingTime attribute, or the
        // time of a timestamp token over its signature, whichever is earlier (a token is not
        // signed by the signer: anyone could add one, and so it may only make a release older).
        std::optional<std::int64_t> signedAt;
    };
    // Those whose block verifies over their signature file, and whose signature file matches the
    // manifest as java requires. The first 64 count.
    std::vector<Signer> signers;

    enum class Listing {
        matches,   // the manifest's digests of the entry are those of its bytes
        differs,   // the entry's bytes are not those signed
        unlisted,  // no digest of it in the manifest
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

    // The keys the manifest's main attribute Velmoor-Publisher-Keys names.
    std::vector<Sha256Digest> namedKeys;
    // The algorithm of a block that the crypto does not read, or reads but does not verify;
    // empty when there is none.
    std::wstring unreadAlgorithm;
    // What makes java refuse to load the jar's classes (it throws SecurityException): a block
    // that does not verify over its signature file, or a signature file that contradicts the
    // manifest; the file or entry at fault. Empty when there is none.
    std::wstring refusedByJava;
};

// The signatures of a jar whose pass has completed, from its digests and its kept files.
JarSignatures readSignatures(JarDigests& jar, const KeptFiles& kept);

// The publisher of the installed jar: the keys of its signers that sign every entry, and, where
// such a signer signs the manifest's main attributes, the keys they name. No keys and no
// algorithm: an unsigned jar, to which the publisher rule does not apply. No keys but an
// algorithm: a jar signed only in a way the crypto cannot read, which takes no update.
struct Publisher {
    std::vector<Sha256Digest> keys;
    std::wstring unreadAlgorithm;
    // The latest time one of those signers signed the installed jar, when one says.
    std::optional<std::int64_t> signedAt;
};
Publisher publisherOf(const JarSignatures& installed);

// What the user is told when an update may not replace the installed jar; nothing when it may.
// Any install refuses an update that java would refuse to load. An unsigned install takes any
// other. A signed one takes an update when one of the publisher's keys signs every entry of it
// and its main attributes, and every other signer's key is the publisher's or one that the
// update's own attribute names (a new key on its way in). Keys are compared, not certificates:
// a certificate renewed over the same key signs for the same publisher. An update that the
// publisher signed before it signed the installed jar is an older release: refused, unless the
// installed jar's time is more than a day ahead of `now` (same clock as signedAt), which a wrong
// clock wrote.
std::optional<std::wstring> refusalOf(const Publisher& installed, const JarSignatures& update,
                                      std::int64_t now);

}  // namespace velmoor
