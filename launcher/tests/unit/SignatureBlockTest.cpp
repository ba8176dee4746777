// The signature block's DER reader at the edges that jarsigner's blocks never show: lengths in
// every form, elements that end where their container does, and structures one field off.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

#include "core/signature/SignatureBlock.h"

namespace velmoor {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// An element in DER: its length in the short form, or in the long form's fewest octets.
Bytes der(unsigned char tag, const Bytes& contents) {
    Bytes length;
    for (std::size_t n = contents.size(); n > 0; n >>= 8) length.insert(length.begin(), n & 0xff);
    if (contents.size() < 0x80)
        length = {static_cast<unsigned char>(contents.size())};
    else
        length.insert(length.begin(), static_cast<unsigned char>(0x80 | length.size()));
    return cat({{tag}, length, contents});
}

// An OID element from its dotted form, as the standards write it.
Bytes oid(std::string_view dotted) {
    std::vector<unsigned long> arcs;
    for (std::size_t at = 0;; at = dotted.find('.', at) + 1) {
        arcs.push_back(std::stoul(std::string(dotted.substr(at))));
        if (dotted.find('.', at) == std::string_view::npos) break;
    }
    Bytes contents;
    arcs[1] += 40 * arcs[0];
    for (auto arc = arcs.begin() + 1; arc != arcs.end(); ++arc) {
        Bytes base128{static_cast<unsigned char>(*arc & 0x7f)};
        for (unsigned long rest = *arc >> 7; rest > 0; rest >>= 7)
            base128.insert(base128.begin(), static_cast<unsigned char>(0x80 | (rest & 0x7f)));
        contents.insert(contents.end(), base128.begin(), base128.end());
    }
    return der(0x06, contents);
}

const Bytes kVersion = der(0x02, {1});
const Bytes kSignedDataType = oid("1.2.840.113549.1.7.2");
const Bytes kSha256 = der(0x30, oid("2.16.840.1.101.3.4.2.1"));
const Bytes kRsa = der(0x30, oid("1.2.840.113549.1.1.1"));
const Bytes kSignature = der(0x04, {1, 2, 3});

// A SignerInfo: version, sid, digest algorithm, [signed attributes,] signature algorithm, then
// what follows (the signature and any unsigned attributes).
Bytes signer(const Bytes& rest, const Bytes& signedAttributes = {}, const Bytes& algorithm = kRsa,
             const Bytes& digest = kSha256) {
    return der(0x30, cat({kVersion, der(0x30, {}), digest, signedAttributes, algorithm, rest}));
}

// A ContentInfo of a SignedData whose fields after the encapsulated content are `rest`.
Bytes block(const Bytes& rest) {
    const Bytes data = oid("1.2.840.113549.1.7.1");
    const Bytes signedData = der(0x30, cat({kVersion, der(0x31, {}), der(0x30, data), rest}));
    return der(0x30, cat({kSignedDataType, der(0xa0, signedData)}));
}

TEST(SignatureBlock, DerAtItsEdges) {
    const Bytes attributes = der(0xa0, der(0x30, cat({oid("1.2"), der(0x31, der(0x05, {}))})));
    const Bytes indefinite = cat({{0x04, 0x80}, Bytes(128, 7), {0, 0}});
    const struct {
        const char* what;
        Bytes block;
        bool read;
    } cases[] = {
        {"one signer", block(der(0x31, signer(kSignature))), true},
        {"certificates and CRLs before the signers",
         block(cat({der(0xa0, {}), der(0xa1, {}), der(0x31, signer(kSignature))})), true},
        {"an empty signature that ends its signer", block(der(0x31, signer({0x04, 0x00}))), true},
        {"a long-form length of nothing that ends its signer",
         block(der(0x31, signer({0x04, 0x81, 0x00}))), true},
        {"a length in four octets", block(der(0x31, signer({0x04, 0x84, 0, 0, 0, 1, 9}))), true},
        {"a length in five octets", block(der(0x31, signer({0x04, 0x85, 0, 0, 0, 0, 1, 9}))),
         false},
        {"an indefinite length", block(der(0x31, signer(indefinite))), false},
        {"a length past its container", block(der(0x31, signer({0x04, 0x02, 9}))), false},
        {"no signature", block(der(0x31, signer({}))), false},
        {"the signature as a BIT STRING", block(der(0x31, signer(der(0x03, {0, 9})))), false},
        {"two signers", block(der(0x31, cat({signer(kSignature), signer(kSignature)}))), false},
        {"no signer", block(der(0x31, {})), false},
        {"a field after the signers", block(cat({der(0x31, signer(kSignature)), der(0x31, {})})),
         false},
        {"the signers as a SEQUENCE", block(der(0x30, signer(kSignature))), false},
        {"no signature algorithm",
         block(der(0x31, der(0x30, cat({kVersion, der(0x30, {}), kSha256, kSignature})))), false},
    };
    for (const auto& c : cases) EXPECT_EQ(blockAlgorithmOf(c.block).has_value(), c.read) << c.what;
    // Signed attributes come back as the SET they are signed as, and only where there are some.
    const auto read = signedAttributesOf(block(der(0x31, signer(kSignature, attributes))));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, cat({{0x31}, Bytes(attributes.begin() + 1, attributes.end())}));
    EXPECT_FALSE(signedAttributesOf(block(der(0x31, signer(kSignature)))));
}

// Each algorithm jarsigner writes, by its OID, named as jarsigner names it, and read or not.
TEST(SignatureBlock, AlgorithmsByTheirOids) {
    const auto nist = [](char n) {
        return der(0x30, oid(std::string("2.16.840.1.101.3.4.2.") + n));
    };
    const struct {
        char digest;
        const char* algorithm;
        const wchar_t* name;
        bool read;
    } cases[] = {
        {'1', "1.2.840.113549.1.1.1", L"SHA256withRSA", true},
        {'2', "1.2.840.113549.1.1.1", L"SHA384withRSA", true},
        {'1', "1.2.840.113549.1.1.11", L"SHA256withRSA", true},
        {'2', "1.2.840.113549.1.1.12", L"SHA384withRSA", true},
        {'3', "1.2.840.113549.1.1.13", L"SHA512withRSA", true},
        {'1', "1.2.840.113549.1.1.13", L"RSA", false},
        {'3', "1.2.840.10045.2.1", L"SHA512withECDSA", true},
        {'1', "1.2.840.10045.4.3.2", L"SHA256withECDSA", true},
        {'2', "1.2.840.10045.4.3.3", L"SHA384withECDSA", true},
        {'3', "1.2.840.10045.4.3.4", L"SHA512withECDSA", true},
        {'2', "1.2.840.10045.4.3.2", L"ECDSA", false},
        {'1', "1.2.840.113549.1.1.10", L"RSASSA-PSS", false},
        {'1', "1.3.101.112", L"Ed25519", false},
        {'1', "1.3.101.113", L"Ed448", false},
        {'1', "1.2.840.10040.4.1", L"DSA", false},
        {'1', "2.16.840.1.101.3.4.3.2", L"SHA256withDSA", false},
        {'1', "1.2.840.113549.1.1", L"an unknown algorithm", false},
        // SHA-512/224, of the same arc as the three read.
        {'5', "1.2.840.113549.1.1.1", L"RSA", false},
    };
    for (const auto& c : cases) {
        const Bytes algorithm = der(0x30, oid(c.algorithm));
        const auto read =
            blockAlgorithmOf(block(der(0x31, signer(kSignature, {}, algorithm, nist(c.digest)))));
        ASSERT_TRUE(read.has_value()) << c.algorithm;
        EXPECT_EQ(read->name, c.name) << c.algorithm;
        EXPECT_EQ(read->read(), c.read) << c.algorithm;
    }
}

// The signing time a signer's attributes give: UTCTime's years from 1950 to 2049, either form's
// fields in range (a leap second too), fractions dropped, anything else none.
TEST(SignatureBlock, SigningTimes) {
    const Bytes signingTime = oid("1.2.840.113549.1.9.5");
    const auto attribute = [](const Bytes& type, const Bytes& values) {
        return der(0x30, cat({type, der(0x31, values)}));
    };
    const auto at = [](int year, int month, int day, int hour, int minute, int second) {
        std::tm civil{second, minute, hour, day, month - 1, year - 1900, 0, 0, 0, 0, nullptr};
        return std::optional<std::int64_t>(timegm(&civil) + 11'644'473'600);
    };
    const struct {
        unsigned char tag;
        const char* text;
        std::optional<std::int64_t> time;
    } cases[] = {
        {0x17, "491231235959Z", at(2049, 12, 31, 23, 59, 59)},
        {0x17, "500101000000Z", at(1950, 1, 1, 0, 0, 0)},
        {0x18, "20240229120000Z", at(2024, 2, 29, 12, 0, 0)},
        {0x18, "20000301000000Z", at(2000, 3, 1, 0, 0, 0)},
        {0x18, "17000301000000Z", at(1700, 3, 1, 0, 0, 0)},
        {0x18, "16010101000000Z", 0},
        {0x18, "20241231235960Z", at(2025, 1, 1, 0, 0, 0)},
        {0x18, "20241201083015.25Z", at(2024, 12, 1, 8, 30, 15)},
        {0x18, "20241231235961Z", {}},
        {0x18, "20240001000000Z", {}},
        {0x18, "20241301000000Z", {}},
        {0x18, "20241200000000Z", {}},
        {0x18, "20241232000000Z", {}},
        {0x18, "20241201240000Z", {}},
        {0x18, "20241201006000Z", {}},
        {0x18, "2024120100:000Z", {}},
        {0x18, "2024120100/000Z", {}},
        {0x18, "202412010000000", {}},
        {0x17, "2412010000Z", {}},
        // Another string type, whose text would read with no digits of the year, or one.
        {0x13, "1231235959Z", {}},
        {0x13, "91231235959Z", {}},
    };
    for (const auto& c : cases) {
        const Bytes time = der(c.tag, Bytes(c.text, c.text + std::strlen(c.text)));
        const Bytes attributes =
            der(0xa0, cat({attribute(oid("1.2.3"), {}), attribute(signingTime, time)}));
        const auto times = blockTimesOf(block(der(0x31, signer(kSignature, attributes))));
        ASSERT_TRUE(times.has_value()) << c.text;
        EXPECT_EQ(times->signingTime, c.time) << c.text;
    }
    // One value, not two, and a SET of them.
    EXPECT_FALSE(
        blockTimesOf(block(der(0x31, signer(kSignature, der(0xa0, der(0x30, signingTime))))))
            ->signingTime);
    const Bytes utc = der(0x17, {'4', '9', '1', '2', '3', '1', '2', '3', '5', '9', '5', '9', 'Z'});
    const Bytes twice = attribute(signingTime, cat({utc, utc}));
    EXPECT_FALSE(blockTimesOf(block(der(0x31, signer(kSignature, der(0xa0, twice)))))->signingTime);
}

// An RFC 3161 token among the unsigned attributes gives its time and imprint; one that is not
// a token's shape in any part gives none.
TEST(SignatureBlock, TimestampTokens) {
    const Bytes time =
        der(0x18, {'2', '0', '2', '4', '1', '2', '0', '1', '0', '0', '0', '0', '0', '0', 'Z'});
    const Bytes hashed = der(0x04, Bytes(32, 5)), imprint = der(0x30, cat({kSha256, hashed}));
    const auto token = [&](const Bytes& info, unsigned char infoTag = 0x04,
                           unsigned char wrapTag = 0xa0) {
        const Bytes content =
            der(0x30, cat({oid("1.2.840.113549.1.9.16.1.4"), der(wrapTag, der(infoTag, info))}));
        return der(0x30, cat({kSignedDataType,
                              der(0xa0, der(0x30, cat({kVersion, der(0x31, {}), content})))}));
    };
    const auto info = [&](const Bytes& imprintField, const Bytes& timeField) {
        return der(0x30, cat({kVersion, oid("1.2.3"), imprintField, kVersion, timeField}));
    };
    const Bytes good = info(imprint, time), whole = token(good);
    const auto retag = [](Bytes bytes, std::size_t at, unsigned char tag) {
        bytes.at(at) = tag;
        return bytes;
    };
    const struct {
        const char* what;
        Bytes token;
        bool read;
    } cases[] = {
        {"a token", whole, true},
        {"a SET for the token", retag(whole, 0, 0x31), false},
        {"the content not in [0]", token(good, 0x04, 0xa1), false},
        {"the SignedData not in [0]", retag(whole, 13, 0xa1), false},
        {"the SignedData a SET", retag(whole, 15, 0x31), false},
        {"the encapsulated content a SET", retag(whole, 22, 0x31), false},
        {"the TSTInfo not in an OCTET STRING", token(good, 0x30), false},
        {"the TSTInfo a SET", token(cat({{0x31}, Bytes(good.begin() + 1, good.end())})), false},
        {"the time a UTCTime", token(info(imprint, der(0x17, Bytes(time.begin() + 4, time.end())))),
         false},
        {"an imprint without its hash", token(info(der(0x30, kSha256), time)), false},
        {"an imprint without its algorithm", token(info(der(0x30, hashed), time)), false},
    };
    EXPECT_FALSE(blockTimesOf(der(0x31, {})));
    const Bytes tokenType = oid("1.2.840.113549.1.9.16.2.14");
    for (const auto& c : cases) {
        const Bytes unsignedAttributes = der(0xa1, der(0x30, cat({tokenType, der(0x31, c.token)})));
        const auto times =
            blockTimesOf(block(der(0x31, signer(cat({kSignature, unsignedAttributes})))));
        ASSERT_TRUE(times.has_value()) << c.what;
        EXPECT_EQ(times->tokenTime.has_value(), c.read) << c.what;
        EXPECT_EQ(times->imprint.size(), c.read ? 32u : 0u) << c.what;
    }
}

// The key of a certificate: the seventh field of its TBSCertificate, or the sixth without the
// explicit version.
TEST(SignatureBlock, KeyOfACertificate) {
    const Bytes key = der(0x30, cat({kRsa, der(0x03, {0, 1})})), field = der(0x30, {});
    const auto certificate = [&](const Bytes& fields) {
        return der(0x30, cat({der(0x30, fields), kRsa}));
    };
    const Bytes version = der(0xa0, der(0x02, {2}));
    const struct {
        const char* what;
        Bytes certificate;
        bool read;
    } cases[] = {
        {"with a version", certificate(cat({version, kVersion, field, field, field, field, key})),
         true},
        {"without", certificate(cat({kVersion, field, field, field, field, key})), true},
        {"a field short", certificate(cat({version, kVersion, field, field, field, key})), false},
        {"the serial not an INTEGER",
         certificate(cat({version, field, field, field, field, field, key})), false},
        {"no TBSCertificate", der(0x30, kVersion), false},
        {"a SET", der(0x31, {}), false},
    };
    for (const auto& c : cases) {
        const auto read = subjectPublicKeyInfoOf(c.certificate);
        EXPECT_EQ(read.has_value(), c.read) << c.what;
        EXPECT_TRUE(!read || std::ranges::equal(*read, key)) << c.what;
    }
}

// RSASSA-PSS: the salt's length is read only where the parameters name the signer's digest for
// the hash and for MGF1, and the trailer field, if there, is 1.
TEST(SignatureBlock, PssParameters) {
    const Bytes pssType = oid("1.2.840.113549.1.1.10"), mgf1 = oid("1.2.840.113549.1.1.8");
    const Bytes sha384 = der(0x30, oid("2.16.840.1.101.3.4.2.2"));
    const Bytes hash = der(0xa0, kSha256), mask = der(0xa1, der(0x30, cat({mgf1, kSha256})));
    const Bytes salt = der(0xa2, der(0x02, {0x01, 0x00})), trailer = der(0xa3, der(0x02, {1}));
    const auto pss = [&](std::initializer_list<Bytes> fields) {
        const Bytes params = der(0x30, cat(fields));
        return der(0x30, cat({pssType, params}));
    };
    const struct {
        const char* what;
        Bytes algorithm;
        BlockAlgorithm::Hash hash;
        unsigned salt;
    } cases[] = {
        {"all four fields", pss({hash, mask, salt, trailer}), BlockAlgorithm::sha256, 256},
        {"the salt's default", pss({hash, mask}), BlockAlgorithm::sha256, 20},
        {"a salt of three octets", pss({hash, mask, der(0xa2, der(0x02, {1, 0, 0}))}),
         BlockAlgorithm::otherHash, 0},
        {"a salt of no octets", pss({hash, mask, der(0xa2, der(0x02, {}))}),
         BlockAlgorithm::otherHash, 0},
        {"a trailer of 2", pss({hash, mask, salt, der(0xa3, der(0x02, {2}))}),
         BlockAlgorithm::otherHash, 0},
        {"a field after the trailer", pss({hash, mask, salt, trailer, trailer}),
         BlockAlgorithm::otherHash, 0},
        {"another hash", pss({der(0xa0, sha384), mask}), BlockAlgorithm::otherHash, 0},
        {"MGF1 with another hash", pss({hash, der(0xa1, der(0x30, cat({mgf1, sha384})))}),
         BlockAlgorithm::otherHash, 0},
        {"another mask", pss({hash, der(0xa1, der(0x30, cat({oid("1.2"), kSha256})))}),
         BlockAlgorithm::otherHash, 0},
        {"MGF1 without its hash", pss({hash, der(0xa1, der(0x30, mgf1))}),
         BlockAlgorithm::otherHash, 0},
        {"the mask not a SEQUENCE", pss({hash, der(0xa1, kVersion)}), BlockAlgorithm::otherHash, 0},
        {"no mask", pss({hash}), BlockAlgorithm::otherHash, 0},
        {"the mask first", pss({mask, hash}), BlockAlgorithm::otherHash, 0},
        {"the hash not a SEQUENCE", pss({der(0xa0, kVersion), mask}), BlockAlgorithm::otherHash, 0},
        {"no fields", pss({}), BlockAlgorithm::otherHash, 0},
        {"no parameters", der(0x30, pssType), BlockAlgorithm::otherHash, 0},
    };
    for (const auto& c : cases) {
        const auto read = blockAlgorithmOf(block(der(0x31, signer(kSignature, {}, c.algorithm))));
        ASSERT_TRUE(read.has_value()) << c.what;
        EXPECT_EQ(read->kind, BlockAlgorithm::rsaPss) << c.what;
        EXPECT_EQ(read->hash, c.hash) << c.what;
        EXPECT_EQ(read->hash == BlockAlgorithm::otherHash ? 0 : read->pssSaltLength, c.salt)
            << c.what;
    }
}

}  // namespace
}  // namespace velmoor
