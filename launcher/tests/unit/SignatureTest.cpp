// The publisher rule on jars signed by keytool and jarsigner (signed-jars.sh), read through the
// jar check as an update's copy is, with OpenSSL's libcrypto as the crypto service.
#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdlib>

#include "OpenSslCrypto.h"
#include "TestJar.h"
#include "core/JarCheck.h"
#include "core/JarSignature.h"
#include "core/Messages.h"
#include "core/SignatureBlock.h"
#include "core/TextEncoding.h"

namespace velmoor {
namespace {

// The jar read by the jar check's pass, its digests taken on two workers.
JarSignatures signaturesOf(const std::string& jar, KeptFiles* kept = nullptr) {
    OpenSslCrypto crypto;
    JarDigests digests(crypto);
    JarPass pass(digests.hooks());
    const char* folder = std::getenv("VELMOOR_SIGNED_JARS");
    const std::vector<unsigned char> bytes =
        testjar::fileBytes(std::string(folder ? folder : "") + "/" + jar + ".jar");
    MemorySource source(bytes);
    EXPECT_EQ(verifyJar(source, pass, {}, testjar::together, 2), JarVerdict::complete) << jar;
    if (kept) *kept = pass.kept();
    return readSignatures(digests, pass.kept());
}

TEST(JarSignature, ASignedInstallTakesUpdatesSignedWithItsKeysOnly) {
    const std::wstring publisher = L"CN=Tarvio Publisher, O=Ostrel RFID, C=DE";
    const struct {
        const char* installed;
        const char* update;
        std::optional<std::wstring> refusal;  // none: installed
    } cases[] = {
        {"v1-rsa", "v2-rsa", {}},
        {"v1-ec", "v2-ec", {}},
        {"v1-rsa", "v2-renewed", {}},
        {"v1-unsigned", "v2-other", {}},
        // Its signature does not verify against its own bytes: no signed install.
        {"v2-rsa-changed", "v2-other", {}},
        {"v1-rsa", "v2-other", L"Signer found: CN=Someone Else, O=Elsewhere, C=NL"},
        {"v1-rsa", "v2-ec", L"Signer found: CN=Tarvio Publisher EC, O=Ostrel RFID, C=DE"},
        {"v1-ec", "v2-unsigned", L"Signer found: none"},
        {"v1-rsa", "v2-rsa-changed",
         L"Signer found: " + publisher + L"\r\nUnsigned or changed entry: tarvio/Main.class"},
        {"v1-rsa", "v2-rsa-extra",
         L"Signer found: " + publisher + L"\r\nUnsigned or changed entry: tarvio/Extra.class"},
        {"v1-rsa", "v2-rsa-metainf",
         L"Signer found: " + publisher +
             L"\r\nUnsigned or changed entry: META-INF/versions/9/tarvio/Main.class"},
        {"v1-rsa", "v2-rsa-forged", L"Signer found: none"},
        // A move to a new key: both keys, then the new one alone.
        {"v1-rsa", "v3-new", L"Signer found: CN=Tarvio Publisher 2027, O=Ostrel RFID, C=DE"},
        {"v1-rsa", "v2-both", {}},
        {"v2-both", "v3-new", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.installed) + " <- " + c.update);
        const std::vector<Sha256Digest> keys = publisherKeys(signaturesOf(c.installed));
        const std::optional<std::wstring> refusal = refusalOf(keys, signaturesOf(c.update));
        EXPECT_EQ(refusal,
                  c.refusal ? std::optional(std::wstring(kNotFromPublisher) + L"\r\n" + *c.refusal)
                            : std::nullopt);
    }
}

// The signed attributes taken from a block are the bytes its signature covers: OpenSSL verifies
// the signature over them with the certificate's key, and not over them with one byte changed.
TEST(SignatureBlock, SignedAttributesAreTheBytesTheSignatureCovers) {
    for (const char* jar : {"v1-rsa", "v1-ec"}) {
        SCOPED_TRACE(jar);
        KeptFiles kept;
        signaturesOf(jar, &kept);
        const auto block = std::ranges::find_if(kept, [](const auto& file) {
            return file.first.ends_with(".RSA") || file.first.ends_with(".EC");
        });
        ASSERT_NE(block, kept.end());
        const std::string& bytes = block->second;
        const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
        CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &at, bytes.size());
        CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms), 0);
        STACK_OF(X509)* certificates = CMS_get1_certs(cms);
        const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(signer);
        std::optional<std::vector<unsigned char>> attributes = signedAttributesOf(
            {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
        ASSERT_TRUE(attributes);
        for (const bool changed : {false, true}) {
            attributes->back() ^= changed;
            EVP_MD_CTX* context = EVP_MD_CTX_new();
            EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr,
                                 X509_get0_pubkey(sk_X509_value(certificates, 0)));
            EXPECT_EQ(EVP_DigestVerify(context, ASN1_STRING_get0_data(signature),
                                       ASN1_STRING_length(signature), attributes->data(),
                                       attributes->size()) == 1,
                      !changed);
            EVP_MD_CTX_free(context);
        }
        sk_X509_pop_free(certificates, X509_free);
        CMS_ContentInfo_free(cms);
    }
}

TEST(SignatureBlock, EcdsaSignatureAsFixedHalves) {
    using Bytes = std::vector<unsigned char>;
    const struct {
        Bytes der;
        std::optional<Bytes> raw;
    } cases[] = {
        {{0x30, 6, 2, 1, 1, 2, 1, 2}, Bytes{0, 1, 0, 2}},
        // A leading zero keeps a high bit from reading as a sign; a number too long fits not.
        {{0x30, 7, 2, 2, 0, 0xff, 2, 1, 2}, Bytes{0, 0xff, 0, 2}},
        {{0x30, 8, 2, 3, 1, 0, 0, 2, 1, 2}, {}},
        {{0x30, 6, 2, 1, 1, 2, 1, 2, 0}, {}},
        {{0x30, 3, 2, 1, 1}, {}},
        {{0x30, 9, 2, 1, 1, 2, 1, 2, 2, 1, 3}, {}},
        {{0x30, 0x86, 2, 1, 1, 2, 1, 2}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(rawEcdsaSignature(c.der, 2), c.raw);
}

}  // namespace
}  // namespace velmoor
