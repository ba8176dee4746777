#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Crypto.h"
#include "JarDigests.h"

namespace velmoor {

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
    // The algorithm of a block that the crypto does not read, or cannot verify with the
    // platform's; empty when there is none.
    std::wstring unreadAlgorithm;
    // A block of an algorithm read here does not verify over its signature file.
    bool blockFails = false;
    // What makes java refuse to load the jar's classes (it throws SecurityException): a block
    // that does not verify over its signature file, or a signature file that contradicts the
    // manifest; the file or entry at fault. Empty when there is none.
    std::wstring refusedByJava;
};

// The signatures of a jar whose pass has completed, from its digests and its kept files.
JarSignatures readSignatures(JarDigests& jar, const KeptFiles& kept);

}  // namespace velmoor
