#include "SignatureBlock.h"

#include <algorithm>
#include <cstdint>

namespace velmoor {

namespace {

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kOid = 0x06;
// Context-specific and constructed: [0] and [1] of the structures below.
constexpr unsigned char kContext0 = 0xa0;
constexpr unsigned char kContext1 = 0xa1;

// One element of a DER encoding: its tag, its whole bytes and its contents.
struct Element {
    unsigned char tag = 0;
    std::span<const unsigned char> whole, contents;
};

// Reads the element at the front of `bytes` and moves past it. Definite lengths only, as DER has
// them, and never past the bytes given.
std::optional<Element> next(std::span<const unsigned char>& bytes) {
    if (bytes.size() < 2) return std::nullopt;
    std::size_t header = 2;
    std::size_t length = bytes[1];
    if (length >= 0x80) {
        const std::size_t octets = length & 0x7f;
        // 0x80 is BER's indefinite length; four octets already say more than a block holds.
        if (octets == 0 || octets > 4 || bytes.size() < 2 + octets) return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < octets; ++i) length = length << 8 | bytes[2 + i];
        header += octets;
    }
    if (length > bytes.size() - header) return std::nullopt;
    Element element{bytes[0], bytes.first(header + length), bytes.subspan(header, length)};
    bytes = bytes.subspan(header + length);
    return element;
}

// The next element, which must carry the tag.
std::optional<Element> expect(std::span<const unsigned char>& bytes, unsigned char tag) {
    auto element = next(bytes);
    if (!element || element->tag != tag) return std::nullopt;
    return element;
}

}  // namespace

std::optional<std::vector<unsigned char>> signedAttributesOf(std::span<const unsigned char> block) {
    // ContentInfo: SEQUENCE { contentType OID, [0] EXPLICIT SignedData }.
    auto info = expect(block, kSequence);
    if (!info) return std::nullopt;
    auto inside = info->contents;
    auto wrapped = expect(inside, kOid) ? expect(inside, kContext0) : std::nullopt;
    if (!wrapped) return std::nullopt;
    inside = wrapped->contents;
    // SignedData: SEQUENCE { version, digestAlgorithms SET, encapContentInfo SEQUENCE,
    // [0] certificates OPTIONAL, [1] crls OPTIONAL, signerInfos SET }.
    auto signedData = expect(inside, kSequence);
    if (!signedData) return std::nullopt;
    auto fields = signedData->contents;
    if (!expect(fields, kInteger) || !expect(fields, kSet) || !expect(fields, kSequence))
        return std::nullopt;
    std::optional<Element> field;
    while ((field = next(fields)) && (field->tag == kContext0 || field->tag == kContext1)) {
    }
    if (!field || field->tag != kSet || !fields.empty()) return std::nullopt;
    auto signers = field->contents;
    auto signer = expect(signers, kSequence);
    if (!signer || !signers.empty()) return std::nullopt;
    // SignerInfo: SEQUENCE { version, sid, digestAlgorithm SEQUENCE, [0] signedAttrs OPTIONAL,
    // ... }.
    auto parts = signer->contents;
    if (!expect(parts, kInteger) || !next(parts) || !expect(parts, kSequence)) return std::nullopt;
    const auto attributes = expect(parts, kContext0);
    if (!attributes) return std::nullopt;
    std::vector<unsigned char> bytes(attributes->whole.begin(), attributes->whole.end());
    bytes[0] = kSet;
    return bytes;
}

std::optional<std::vector<unsigned char>> rawEcdsaSignature(std::span<const unsigned char> der,
                                                            std::size_t half) {
    auto sequence = expect(der, kSequence);
    if (!sequence || !der.empty()) return std::nullopt;
    auto numbers = sequence->contents;
    std::vector<unsigned char> raw(2 * half, 0);
    for (std::size_t part = 0; part < 2; ++part) {
        auto number = expect(numbers, kInteger);
        if (!number) return std::nullopt;
        auto digits = number->contents;
        // A leading zero only keeps a high first bit from reading as a sign.
        while (!digits.empty() && digits.front() == 0) digits = digits.subspan(1);
        if (digits.size() > half) return std::nullopt;
        std::ranges::copy(
            digits, raw.begin() + static_cast<std::ptrdiff_t>((part + 1) * half - digits.size()));
    }
    if (!numbers.empty()) return std::nullopt;
    return raw;
}

}  // namespace velmoor
