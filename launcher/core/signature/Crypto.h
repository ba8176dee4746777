#pragma once

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "SignatureBlock.h"

namespace velmoor {

using Sha256Digest = std::array<unsigned char, 32>;

// The digests that jarsigner writes: SHA-256, SHA-384 and SHA-512.
using DigestAlgorithm = BlockAlgorithm::Hash;
inline constexpr DigestAlgorithm kDigestAlgorithms[] = {
    BlockAlgorithm::sha256, BlockAlgorithm::sha384, BlockAlgorithm::sha512};

// One digest computation, fed in pieces.
class Hash {
  public:
    virtual ~Hash() = default;
    virtual void update(std::span<const unsigned char> bytes) = 0;
    virtual std::vector<unsigned char> finish() = 0;
};

// Who made a signature block.
struct BlockSigner {
    // The SHA-256 of the DER SubjectPublicKeyInfo of the signer's certificate: the key alone, so
    // that a certificate renewed over the same key names the same signer.
    Sha256Digest key{};
    // The certificate's subject, most significant part last ("CN=..., O=..., C=...").
    std::wstring subject;
};

// What the signature rules need of cryptography, by role. The Win32 side has it from the
// system's DLLs; the unit tests from OpenSSL. Failures of the platform itself are thrown as
// PlatformError; a signature that does not verify is no failure.
class CryptoService {
  public:
    virtual ~CryptoService() = default;

    // One of kDigestAlgorithms. May be called from several threads at once; each computation
    // stays on one.
    virtual std::unique_ptr<Hash> startHash(DigestAlgorithm algorithm) = 0;

    // The signer of a detached PKCS#7 SignedData block over `content` (a jar's signature
    // file), of an algorithm it reads: the block has exactly one signer; the messageDigest
    // among its signed attributes is the digest of the content (the signature itself covers
    // only the attributes), or, without signed attributes, the signature covers the content;
    // and the signature verifies under the key of the signer's certificate, which the block
    // carries. Nothing when any of that fails; `unsupported` then says whether it failed because
    // the platform cannot verify such a key (Wine's CNG has no P-521, for one). The certificate's
    // chain, trust and dates are not looked at: the rule that uses the signer compares keys.
    virtual std::optional<BlockSigner> verifyBlock(std::span<const unsigned char> block,
                                                   std::span<const unsigned char> content,
                                                   bool& unsupported) = 0;

    // Whether verifyBlock reads blocks of this algorithm: a block of another is neither
    // verified nor taken for a bad one, and the install fails closed on it.
    virtual bool reads(const BlockAlgorithm& algorithm) = 0;
};

std::vector<unsigned char> digestOf(CryptoService& crypto, DigestAlgorithm algorithm,
                                    std::span<const unsigned char> bytes);
Sha256Digest sha256Of(CryptoService& crypto, std::span<const unsigned char> bytes);

}  // namespace velmoor
