#include "SignatureBlock.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>

namespace velmoor {

namespace {

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kOid = 0x06;
constexpr unsigned char kOctetString = 0x04;
constexpr unsigned char kUtcTime = 0x17;
constexpr unsigned char kGeneralizedTime = 0x18;
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
// Not inlined, here and below: the launcher's size counts, and these are called everywhere.
[[gnu::noinline]] std::optional<Element> next(std::span<const unsigned char>& bytes) {
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
[[gnu::noinline]] std::optional<Element> expect(std::span<const unsigned char>& bytes,
                                                unsigned char tag) {
    auto element = next(bytes);
    if (!element || element->tag != tag) return std::nullopt;
    return element;
}

}  // namespace

namespace {

// The parts of the one SignerInfo of a ContentInfo that wraps a SignedData.
struct SignerParts {
    Element digestAlgorithm;
    std::optional<Element> signedAttributes;
    Element signatureAlgorithm;
    Element signature;
    std::optional<Element> unsignedAttributes;
};

std::optional<SignerParts> signerOf(std::span<const unsigned char> block) {
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
    // signatureAlgorithm SEQUENCE, signature, [1] unsignedAttrs OPTIONAL }.
    auto parts = signer->contents;
    SignerParts result;
    std::optional<Element> digest, after;
    if (!expect(parts, kInteger) || !next(parts) || !(digest = expect(parts, kSequence)) ||
        !(after = next(parts)))
        return std::nullopt;
    result.digestAlgorithm = *digest;
    if (after->tag == kContext0) {
        result.signedAttributes = after;
        after = next(parts);
    }
    if (!after || after->tag != kSequence) return std::nullopt;
    result.signatureAlgorithm = *after;
    const auto signature = expect(parts, kOctetString);
    if (!signature) return std::nullopt;
    result.signature = *signature;
    if (!parts.empty()) result.unsignedAttributes = expect(parts, kContext1);
    return result;
}

// The contents of an AlgorithmIdentifier's OID.
[[gnu::noinline]] std::span<const unsigned char> oidOf(const Element& algorithm) {
    auto contents = algorithm.contents;
    const auto oid = expect(contents, kOid);
    return oid ? oid->contents : std::span<const unsigned char>{};
}

[[gnu::noinline]] bool is(std::span<const unsigned char> oid,
                          std::initializer_list<unsigned char> value) {
    return std::ranges::equal(oid, value);
}

// 2.16.840.1.101.3.4.2.n: SHA-256, SHA-384, SHA-512 for n = 1, 2, 3.
BlockAlgorithm::Hash hashOf(std::span<const unsigned char> oid) {
    constexpr unsigned char kNistHash[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02};
    if (oid.size() != sizeof kNistHash + 1 || !std::ranges::equal(oid.first(8), kNistHash) ||
        oid[8] < 1 || oid[8] > 3)
        return BlockAlgorithm::otherHash;
    return static_cast<BlockAlgorithm::Hash>(oid[8] - 1);
}

// RSASSA-PSS-params: SEQUENCE { [0] hashAlgorithm, [1] maskGenAlgorithm, [2] saltLength,
// [3] trailerField }, each with a default (SHA-1, MGF1 with SHA-1, 20, 1). Takes the salt's length
// when the hashes are `hash` and MGF1 with `hash`.
bool readPssParameters(const Element& algorithm, BlockAlgorithm::Hash hash, unsigned& salt) {
    auto contents = algorithm.contents;
    auto params = expect(contents, kOid) ? expect(contents, kSequence) : std::nullopt;
    if (!params) return false;
    auto fields = params->contents;
    std::optional<Element> field = next(fields);
    if (!field || field->tag != kContext0) return false;
    auto inner = field->contents;
    const auto hashAlgorithm = expect(inner, kSequence);
    if (!hashAlgorithm || hashOf(oidOf(*hashAlgorithm)) != hash) return false;
    // MGF1 (1.2.840.113549.1.1.8) with the same hash.
    field = next(fields);
    if (!field || field->tag != kContext1) return false;
    inner = field->contents;
    const auto mgf = expect(inner, kSequence);
    if (!mgf) return false;
    auto mgfContents = mgf->contents;
    const auto mgfOid = expect(mgfContents, kOid);
    const auto mgfHash = expect(mgfContents, kSequence);
    if (!mgfOid || !is(mgfOid->contents, {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x08}) ||
        !mgfHash || hashOf(oidOf(*mgfHash)) != hash)
        return false;
    salt = 20;
    field = next(fields);
    if (field && field->tag == kContext0 + 2) {
        inner = field->contents;
        const auto number = expect(inner, kInteger);
        if (!number || number->contents.empty() || number->contents.size() > 2) return false;
        salt = 0;
        for (const unsigned char digit : number->contents) salt = salt << 8 | digit;
        field = next(fields);
    }
    // The trailer field, if there, must be its default: 1.
    if (field && (field->tag != kContext0 + 3 || !is(field->contents, {kInteger, 1, 1})))
        return false;
    return fields.empty();
}

}  // namespace

std::optional<std::vector<unsigned char>> signedAttributesOf(std::span<const unsigned char> block) {
    const auto signer = signerOf(block);
    if (!signer || !signer->signedAttributes) return std::nullopt;
    std::vector<unsigned char> bytes(signer->signedAttributes->whole.begin(),
                                     signer->signedAttributes->whole.end());
    bytes[0] = kSet;
    return bytes;
}

namespace {

// The signature algorithms jarsigner writes, by the contents of their OIDs: a kind and the
// digest it names (kSignersDigest: the signer's own), or only a name.
constexpr int kSignersDigest = -1;
struct KnownAlgorithm {
    unsigned char length;
    unsigned char oid[9];
    BlockAlgorithm::Kind kind;
    signed char hash;
    const wchar_t* name;
};
constexpr KnownAlgorithm kKnownAlgorithms[] = {
    // 1.2.840.113549.1.1.n: rsaEncryption, shaNNNWithRSAEncryption, RSASSA-PSS.
    {9,
     {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x01},
     BlockAlgorithm::rsa,
     kSignersDigest,
     nullptr},
    {9, {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0b}, BlockAlgorithm::rsa, 0, nullptr},
    {9, {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0c}, BlockAlgorithm::rsa, 1, nullptr},
    {9, {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0d}, BlockAlgorithm::rsa, 2, nullptr},
    {9,
     {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0a},
     BlockAlgorithm::rsaPss,
     kSignersDigest,
     L"RSASSA-PSS"},
    // 1.2.840.10045: ecPublicKey, ecdsa-with-SHA256/384/512.
    {7, {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01}, BlockAlgorithm::ecdsa, kSignersDigest, nullptr},
    {8, {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x04, 0x03, 0x02}, BlockAlgorithm::ecdsa, 0, nullptr},
    {8, {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x04, 0x03, 0x03}, BlockAlgorithm::ecdsa, 1, nullptr},
    {8, {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x04, 0x03, 0x04}, BlockAlgorithm::ecdsa, 2, nullptr},
    // Those not read: Ed25519, Ed448, DSA, dsa-with-sha256.
    {3, {0x2b, 0x65, 0x70}, BlockAlgorithm::otherKind, kSignersDigest, L"Ed25519"},
    {3, {0x2b, 0x65, 0x71}, BlockAlgorithm::otherKind, kSignersDigest, L"Ed448"},
    {7,
     {0x2a, 0x86, 0x48, 0xce, 0x38, 0x04, 0x01},
     BlockAlgorithm::otherKind,
     kSignersDigest,
     L"DSA"},
    {9,
     {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x03, 0x02},
     BlockAlgorithm::otherKind,
     kSignersDigest,
     L"SHA256withDSA"},
};
// By kind (rsa, ecdsa) and hash; the last of each when the hash is none of the three.
constexpr const wchar_t* kNames[2][4] = {
    {L"SHA256withRSA", L"SHA384withRSA", L"SHA512withRSA", L"RSA"},
    {L"SHA256withECDSA", L"SHA384withECDSA", L"SHA512withECDSA", L"ECDSA"}};

}  // namespace

std::optional<BlockAlgorithm> blockAlgorithmOf(std::span<const unsigned char> block) {
    const auto signer = signerOf(block);
    if (!signer) return std::nullopt;
    BlockAlgorithm algorithm;
    algorithm.hash = hashOf(oidOf(signer->digestAlgorithm));
    algorithm.name = L"an unknown algorithm";
    const auto oid = oidOf(signer->signatureAlgorithm);
    for (const KnownAlgorithm& known : kKnownAlgorithms) {
        if (!std::ranges::equal(oid, std::span(known.oid, known.length))) continue;
        algorithm.kind = known.kind;
        // A signature algorithm that names another digest than the signer's is not one
        // jarsigner writes.
        if (known.hash != kSignersDigest && known.hash != algorithm.hash)
            algorithm.hash = BlockAlgorithm::otherHash;
        if (known.kind == BlockAlgorithm::rsa || known.kind == BlockAlgorithm::ecdsa)
            algorithm.name = kNames[known.kind == BlockAlgorithm::ecdsa][algorithm.hash];
        if (known.name) algorithm.name = known.name;
        // The hash of PSS is in its parameters, which must name the signer's digest.
        if (known.kind == BlockAlgorithm::rsaPss &&
            !readPssParameters(signer->signatureAlgorithm, algorithm.hash, algorithm.pssSaltLength))
            algorithm.hash = BlockAlgorithm::otherHash;
        break;
    }
    return algorithm;
}

namespace {

// The value of the attribute of that OID in a SET OF Attribute { type OID, values SET }, when it
// has one value.
std::optional<Element> attributeValue(std::span<const unsigned char> attributes,
                                      std::initializer_list<unsigned char> type) {
    while (!attributes.empty()) {
        auto attribute = expect(attributes, kSequence);
        if (!attribute) return std::nullopt;
        auto parts = attribute->contents;
        const auto oid = expect(parts, kOid);
        auto values = expect(parts, kSet);
        if (!oid || !values || !is(oid->contents, type)) continue;
        auto value = next(values->contents);
        return value && values->contents.empty() ? value : std::nullopt;
    }
    return std::nullopt;
}

// A UTCTime (years 1950 to 2049) or GeneralizedTime in UTC ("Z", fractions of a second
// dropped), as seconds since 1601-01-01.
std::optional<std::int64_t> timeOf(const Element& time) {
    const std::size_t yearDigits = time.tag == kUtcTime ? 2 : time.tag == kGeneralizedTime ? 4 : 0;
    const auto text = time.contents;
    if (yearDigits == 0 || text.size() < yearDigits + 11 || text.back() != 'Z') return std::nullopt;
    std::size_t at = 0;
    const auto number = [&](std::size_t digits) -> std::optional<int> {
        int value = 0;
        for (std::size_t i = 0; i < digits; ++i, ++at) {
            if (text[at] < '0' || text[at] > '9') return std::nullopt;
            value = value * 10 + (text[at] - '0');
        }
        return value;
    };
    auto year = number(yearDigits);
    const auto month = number(2), day = number(2), hour = number(2), minute = number(2),
               second = number(2);
    if (!year || !month || !day || !hour || !minute || !second || *month < 1 || *month > 12 ||
        *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    if (yearDigits == 2) *year += *year < 50 ? 2000 : 1900;
    // Days from 1970-01-01 of a civil date (Howard Hinnant's algorithm).
    const int y = *year - (*month <= 2);
    const int era = y / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (*month + (*month > 2 ? -3 : 9)) + 2) / 5 + *day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t days = std::int64_t{era} * 146097 + dayOfEra - 719468;
    constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
    return days * 86400 + *hour * 3600 + *minute * 60 + *second + kSecondsFrom1601To1970;
}

// The genTime and messageImprint of an RFC 3161 token: a ContentInfo of a SignedData whose
// content is a TSTInfo { version, policy, messageImprint { hashAlgorithm, hashedMessage },
// serialNumber, genTime, ... }.
bool readToken(const Element& token, BlockTimes& times) {
    auto bytes = token.whole;
    auto info = expect(bytes, kSequence);
    if (!info) return false;
    auto inside = info->contents;
    auto wrapped = expect(inside, kOid) ? expect(inside, kContext0) : std::nullopt;
    if (!wrapped) return false;
    inside = wrapped->contents;
    auto signedData = expect(inside, kSequence);
    if (!signedData) return false;
    auto fields = signedData->contents;
    if (!expect(fields, kInteger) || !expect(fields, kSet)) return false;
    auto content = expect(fields, kSequence);
    if (!content) return false;
    auto encapsulated = content->contents;
    auto explicitContent =
        expect(encapsulated, kOid) ? expect(encapsulated, kContext0) : std::nullopt;
    if (!explicitContent) return false;
    auto octets = explicitContent->contents;
    auto tstInfo = expect(octets, kOctetString);
    if (!tstInfo) return false;
    auto tst = tstInfo->contents;
    auto sequence = expect(tst, kSequence);
    if (!sequence) return false;
    auto parts = sequence->contents;
    if (!expect(parts, kInteger) || !expect(parts, kOid)) return false;
    auto imprint = expect(parts, kSequence);
    if (!imprint || !expect(parts, kInteger)) return false;
    const auto genTime = expect(parts, kGeneralizedTime);
    if (!genTime) return false;
    auto imprintParts = imprint->contents;
    const auto hashAlgorithm = expect(imprintParts, kSequence);
    const auto hashed = expect(imprintParts, kOctetString);
    times.tokenTime = timeOf(*genTime);
    if (!hashAlgorithm || !hashed || !times.tokenTime) return false;
    times.imprintHash = hashOf(oidOf(*hashAlgorithm));
    times.imprint = hashed->contents;
    return true;
}

}  // namespace

std::optional<BlockTimes> blockTimesOf(std::span<const unsigned char> block) {
    const auto signer = signerOf(block);
    if (!signer) return std::nullopt;
    BlockTimes times;
    times.signature = signer->signature.contents;
    // 1.2.840.113549.1.9.5, signingTime.
    if (signer->signedAttributes) {
        const auto value = attributeValue(signer->signedAttributes->contents,
                                          {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x05});
        if (value) times.signingTime = timeOf(*value);
    }
    // 1.2.840.113549.1.9.16.2.14, id-aa-timeStampToken: one whose parts cannot be read counts
    // as none.
    if (signer->unsignedAttributes) {
        const auto token =
            attributeValue(signer->unsignedAttributes->contents,
                           {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x10, 0x02, 0x0e});
        if (token && !readToken(*token, times)) times.tokenTime.reset();
    }
    return times;
}

std::optional<std::span<const unsigned char>> subjectPublicKeyInfoOf(
    std::span<const unsigned char> certificate) {
    // Certificate: SEQUENCE { tbsCertificate SEQUENCE { [0] version OPTIONAL, serialNumber,
    // signature, issuer, validity, subject, subjectPublicKeyInfo, ... }, ... }.
    auto outer = expect(certificate, kSequence);
    if (!outer) return std::nullopt;
    auto inside = outer->contents;
    auto tbs = expect(inside, kSequence);
    if (!tbs) return std::nullopt;
    auto fields = tbs->contents;
    auto field = next(fields);
    if (field && field->tag == kContext0) field = next(fields);
    if (!field || field->tag != kInteger) return std::nullopt;
    for (int skip = 0; skip < 4; ++skip) {
        if (!expect(fields, kSequence)) return std::nullopt;
    }
    const auto key = expect(fields, kSequence);
    if (!key) return std::nullopt;
    return key->whole;
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
