#pragma once

#include "core/signature/Crypto.h"

namespace velmoor {

// The crypto service on OpenSSL's libcrypto, for the tests on Linux: a real implementation that
// the launcher's own (on the system's DLLs) must agree with.
class OpenSslCrypto : public CryptoService {
  public:
    std::unique_ptr<Hash> startHash(DigestAlgorithm algorithm) override;
    std::optional<BlockSigner> verifyBlock(std::span<const unsigned char> block,
                                           std::span<const unsigned char> content,
                                           bool& unsupported) override;
    // Every algorithm the launcher accepts.
    bool reads(const BlockAlgorithm& algorithm) override { return algorithm.read(); }
};

}  // namespace velmoor
