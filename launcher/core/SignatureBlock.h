#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace velmoor {

// The signed attributes of the one signer of a PKCS#7 SignedData block (a jar's .RSA or .EC
// file) as the bytes its signature covers: the DER SET, that is the block's own bytes of the
// attributes with their [0] tag read as a SET's. Taken from the block rather than encoded anew,
// so that they are the signer's bytes whatever encoder reads them back. Nothing when the block
// is not DER of that form, has another number of signers than one, or its signer has no signed
// attributes.
std::optional<std::vector<unsigned char>> signedAttributesOf(std::span<const unsigned char> block);

// An ECDSA signature as a DER SEQUENCE of the integers r and s, turned into the r then s of
// `half` bytes each that CNG verifies. Nothing when it is not of that form or a number does not
// fit.
std::optional<std::vector<unsigned char>> rawEcdsaSignature(std::span<const unsigned char> der,
                                                            std::size_t half);

}  // namespace velmoor
