#pragma once

#include <atomic>
#include <cstddef>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "Crypto.h"
#include "core/JarCheck.h"

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

}  // namespace velmoor
