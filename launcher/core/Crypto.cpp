#include "Crypto.h"

namespace velmoor {

Sha256Digest sha256Of(CryptoService& crypto, std::span<const unsigned char> bytes) {
    const std::unique_ptr<Sha256> hash = crypto.startSha256();
    hash->update(bytes);
    return hash->finish();
}

}  // namespace velmoor
