#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "SignatureFiles.h"

namespace velmoor {

// The publisher of the installed jar: the keys of its signers that sign every entry, and, where
// such a signer signs the manifest's main attributes, the keys they name. No keys and no
// algorithm: an unsigned jar, to which the publisher rule does not apply. No keys but an
// algorithm: a jar signed only in a way the crypto cannot read, which takes no update; likewise
// one whose signatures do not verify.
struct Publisher {
    std::vector<Sha256Digest> keys;
    std::wstring unreadAlgorithm;
    bool blockFails = false;
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
