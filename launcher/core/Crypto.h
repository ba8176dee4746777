#pragma once

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace velmoor {

using Sha256Digest = std::array<unsigned char, 32>;

// One SHA-256 computation, fed in pieces.
class Sha256 {
  public:
    virtual ~Sha256() = default;
    virtual void update(std::span<const unsigned char> bytes) = 0;
    virtual Sha256Digest finish() = 0;
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

    // May be called from several threads at once; each computation stays on one.
    virtual std::unique_ptr<Sha256> startSha256() = 0;

    // The signer of a detached PKCS#7 SignedData block over `content` (a jar's signature
    // file): the block has exactly one signer, with SHA-256 as its digest; the messageDigest
    // among its signed attributes is the SHA-256 of the content (the signature itself covers
    // only the attributes), or, without signed attributes, the signature covers the content;
    // and the signature verifies under the key of the signer's certificate, which the block
    // carries. Nothing when any of that fails. The certificate's chain, trust and dates are not
    // looked at: the rule that uses the signer compares keys.
    virtual std::optional<BlockSigner> verifyBlock(std::span<const unsigned char> block,
                                                   std::span<const unsigned char> content) = 0;
};

Sha256Digest sha256Of(CryptoService& crypto, std::span<const unsigned char> bytes);

}  // namespace velmoor
