#include "Crypto.h"

#include <algorithm>

namespace velmoor {

std::vector<unsigned char> digestOf(CryptoService& crypto, DigestAlgorithm algorithm,
                                    std::span<const unsigned char> bytes) {
    const std::unique_ptr<Hash> hash = crypto.startHash(algorithm);
    hash->update(bytes);
    return hash->finish();
}

Sha256Digest sha256Of(CryptoService& crypto, std::span<const unsigned char> bytes) {
    const std::vector<unsigned char> digest = digestOf(crypto, BlockAlgorithm::sha256, bytes);
    Sha256Digest result{};
    std::copy_n(digest.begin(), std::min(digest.size(), result.size()), result.begin());
    return result;
}

}  // namespace velmoor
