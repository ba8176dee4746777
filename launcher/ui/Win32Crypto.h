#pragma once

#include <windows.h>

#include <bcrypt.h>

#include "WinHandles.h"
#include "core/signature/Crypto.h"

namespace velmoor {

inline void closeAlgorithm(BCRYPT_ALG_HANDLE algorithm) {
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
}

// SHA-256 and the check of a jar's signature blocks with the system's own DLLs: CNG (bcrypt)
// hashes and verifies, crypt32 reads the block and the certificate. The block's messageDigest is
// compared here and the signature verified with CNG, rather than left to the message calls:
// Wine's never compare the messageDigest with the content, and cannot import an EC key.
class Win32Crypto final : public CryptoService {
  public:
    Win32Crypto();

    std::unique_ptr<Hash> startHash(DigestAlgorithm algorithm) override;
    std::optional<BlockSigner> verifyBlock(std::span<const unsigned char> block,
                                           std::span<const unsigned char> content,
                                           bool& unsupported) override;
    bool reads(const BlockAlgorithm& algorithm) override;

  private:
    // Opened once each, by DigestAlgorithm: CNG lets several threads make hashes of one
    // algorithm handle at once.
    UniqueHandle<BCRYPT_ALG_HANDLE, closeAlgorithm> hashes_[std::size(kDigestAlgorithms)];
};

}  // namespace velmoor
