#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace velmoor {

// The signed attributes of the one signer of a PKCS#7 SignedData block (a jar's .RSA or .EC
// file) as the bytes its signature covers: the DER SET, that is the block's own bytes of the
// attributes with their [0] tag read as a SET's. Taken from the block rather than encoded anew,
// so that they are the signer's bytes whatever encoder reads them back. Nothing when the block
// is not DER of that form, has another number of signers than one, or its signer has no signed
// attributes.
std::optional<std::vector<unsigned char>> signedAttributesOf(std::span<const unsigned char> block);

// The algorithms of the one signer of a signature block, as its SignerInfo names them.
struct BlockAlgorithm {
    enum Hash { sha256, sha384, sha512, otherHash };
    enum Kind { rsa, rsaPss, ecdsa, otherKind };
    Hash hash = otherHash;
    Kind kind = otherKind;
    // RSASSA-PSS: the salt's length. Its hash, and that of its mask generation (MGF1), are the
    // signer's digest, or the hash is otherHash.
    unsigned pssSaltLength = 0;
    // As jarsigner names it ("SHA384withRSA", "Ed25519"), for the user: what was not read.
    std::wstring_view name;
    // Whether the launcher reads signatures of this kind with this digest.
    bool read() const { return hash != otherHash && kind != otherKind; }
};

// Nothing when the block is not a SignedData of one signer in DER.
std::optional<BlockAlgorithm> blockAlgorithmOf(std::span<const unsigned char> block);

// When a block says it was signed, in whole seconds since 1601-01-01 UTC (as the launcher's clock
// counts): its signer's signingTime attribute, which the signer's clock wrote, and the time of an
// RFC 3161 timestamp token among its unsigned attributes, which a timestamp authority wrote over
// the digest (`imprint`, by `imprintHash`) of the signature bytes (`signature`).
struct BlockTimes {
    std::optional<std::int64_t> signingTime;
    std::optional<std::int64_t> tokenTime;
    BlockAlgorithm::Hash imprintHash = BlockAlgorithm::otherHash;
    std::span<const unsigned char> imprint, signature;
};
std::optional<BlockTimes> blockTimesOf(std::span<const unsigned char> block);

// The DER SubjectPublicKeyInfo of a DER X.509 certificate, its own bytes: the key as the
// certificate holds it, whatever an encoder would make of it anew.
std::optional<std::span<const unsigned char>> subjectPublicKeyInfoOf(
    std::span<const unsigned char> certificate);

// An ECDSA signature as a DER SEQUENCE of the integers r and s, turned into the r then s of
// `half` bytes each that CNG verifies. Nothing when it is not of that form or a number does not
// fit.
std::optional<std::vector<unsigned char>> rawEcdsaSignature(std::span<const unsigned char> der,
                                                            std::size_t half);

}  // namespace velmoor
