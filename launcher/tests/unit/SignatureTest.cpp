// The publisher rule on jars signed by keytool and jarsigner (signed-jars.sh), read through the
// jar check as an update's copy is, with OpenSSL's libcrypto as the crypto service.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>

#include "OpenSslCrypto.h"
#include "TestJar.h"
#include "core/JarCheck.h"
#include "core/Messages.h"
#include "core/TextEncoding.h"
#include "core/signature/Base64.h"
#include "core/signature/PublisherRule.h"
#include "core/signature/SignatureBlock.h"
#include "core/signature/SortedByName.h"
#include "tests/vectors/SignatureVectors.h"

namespace velmoor {
namespace {

using testjar::signedFile;

// The jar read by the jar check's pass, its digests taken on two workers.
JarSignatures signaturesOf(const std::string& jar, OpenSslCrypto&& crypto = {}) {
    JarDigests digests(crypto);
    JarPass pass(digests.hooks());
    const std::vector<unsigned char> bytes = signedFile(jar + ".jar");
    MemorySource source(bytes);
    EXPECT_EQ(verifyJar(source, pass, {}, testjar::together, 2), JarVerdict::complete) << jar;
    return readSignatures(digests, pass.kept());
}

// A signer as the boxes name it: its subject and its key's first 16 hex digits.
std::wstring signer(const char* subject, const char* key) {
    const std::vector<unsigned char> digits = signedFile(std::string(key) + ".key");
    if (digits.size() < 16) {
        ADD_FAILURE() << key << ".key: no jars made by signed-jars.sh (run through ctest)";
        return {};
    }
    return fromUtf8(subject) + L" (key " + std::wstring(digits.begin(), digits.begin() + 16) + L")";
}

TEST(JarSignature, ASignedInstallTakesUpdatesSignedWithItsKeysOnly) {
    const std::wstring publisher = signer("CN=Tarvio Publisher, O=Ostrel RFID, C=DE", "publisher");
    const std::wstring notFromPublisher = std::wstring(kNotFromPublisher) + L"\r\nSigner found: ";
    const std::wstring changed = notFromPublisher + publisher + L"\r\nUnsigned or changed entry: ";
    const std::wstring stranger = std::wstring(kStrangerKey);
    const std::wstring other = signer("CN=Someone Else, O=Elsewhere, C=NL", "other");
    const std::wstring newKey = signer("CN=Tarvio Publisher 2027, O=Ostrel RFID, C=DE", "newkey");
    const struct {
        const char* installed;
        const char* update;
        std::optional<std::wstring> refusal;  // none: installed
    } cases[] = {
        {"v1-rsa", "v2-rsa", {}},
        {"v1-rsa", "v2-renewed", {}},
        {"v1-unsigned", "v2-other", {}},
        // java reads signature files named in small letters, paired by their names in capitals.
        {"v1-rsa", "v2-lower", {}},
        // An entry changed after signing: no signed install. A block that does not verify: a
        // signed install, of no key.
        {"v2-rsa-changed", "v2-other", {}},
        {"v2-rsa-forged", "v2-rsa", std::wstring(kInstalledSignatureFails)},
        {"v1-rsa", "v2-other", notFromPublisher + other},
        {"v1-ec", "v2-unsigned", notFromPublisher + L"none"},
        {"v1-rsa", "v2-rsa-changed", changed + L"tarvio/Main.class"},
        {"v1-rsa", "v2-rsa-extra", changed + L"tarvio/Extra.class"},
        {"v1-rsa", "v2-rsa-metainf", changed + L"META-INF/versions/9/tarvio/Main.class"},
        // Its digests made anew: the block no longer verifies, and java refuses it.
        {"v1-rsa", "v2-rsa-forged", javaRefusesSignatureText(L"META-INF/PUBLISHE.RSA")},
        // Part of it signed by someone else; its main attributes signed by nobody.
        {"v1-rsa", "v2-partly", changed + L"tarvio/Extra.class"},
        // Its Main-Class changed, under a signature file that does not sign the main attributes.
        {"v1-rsa", "v2-nomain", changed + L"META-INF/MANIFEST.MF"},
        // java would refuse it, whatever the install (what each jar java refuses: the vectors).
        {"v1-unsigned", "v2-rsa-main", javaRefusesSignatureText(L"META-INF/MANIFEST.MF")},
        // A stranger's co-signature, and a new key that no signed release names.
        {"v1-rsa", "v2-cosigned", stranger + other},
        {"v1-rsa", "v2-both", stranger + newKey},
        // A move to a new key: a release by the old key naming the new, then the new alone.
        {"v1-rsa", "v3-new", notFromPublisher + newKey},
        {"v1-rsa", "v2-rotate", {}},
        {"v2-rotate", "v3-new", {}},
        // Keys the Wine scenarios take no update of: each takes its own next release.
        {"v1-p521", "v2-p521", {}},
        {"v1-pss", "v2-pss", {}},
        // Algorithms not read here: an install signed so takes no update, nor is one signed so
        // taken.
        {"v1-ed25519", "v2-ed25519", unreadSignatureText(L"Ed25519", true)},
        {"v1-dsa", "v2-other", unreadSignatureText(L"SHA256withDSA", true)},
        {"v1-rsa", "v2-ed25519", unreadSignatureText(L"Ed25519", false)},
        // A release signed before the installed one; signed again, it is taken; signed at the
        // same time, it is taken too (the clock's edge is EdgesOfThePublisherRule's).
        {"v2-rotate", "v1-rsa", std::wstring(kOlderRelease)},
        {"v2-rotate", "v1-resigned", {}},
        {"v1-rsa", "v1-rsa", {}},
        // A timestamp token's time, when earlier than the signer's own, is when it signed; not
        // that of a token made for another signature.
        {"v1-rsa", "v2-tsa-old", std::wstring(kOlderRelease)},
        {"v1-rsa", "v2-token-copied", {}},
        {"v1-resigned", "v2-tsa", {}},
    };
    const std::int64_t now = std::time(nullptr) + 11'644'473'600;  // in seconds since 1601
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.installed) + " <- " + c.update);
        const Publisher installed = publisherOf(signaturesOf(c.installed));
        EXPECT_EQ(refusalOf(installed, signaturesOf(c.update), now), c.refusal);
    }
    // Signers past the 64 that one entry's signers are counted in are not read.
    EXPECT_EQ(signaturesOf("v2-signers").signers.size(), 64u);
    // A key the platform's crypto cannot verify with (a curve Windows lacks) is read no better
    // than an unknown algorithm: no signer, and the algorithm named.
    struct WithoutTheKey final : OpenSslCrypto {
        std::optional<BlockSigner> verifyBlock(std::span<const unsigned char>,
                                               std::span<const unsigned char>,
                                               bool& unsupported) override {
            return unsupported = true, std::nullopt;
        }
    };
    const JarSignatures unread = signaturesOf("v1-rsa", WithoutTheKey{});
    EXPECT_TRUE(unread.signers.empty() && !unread.blockFails);
    EXPECT_EQ(unread.unreadAlgorithm, L"SHA256withRSA");
}

// The rule's edges, on signatures made up: an installed time counts up to a day ahead of the
// clock, to the second; keys named in main attributes that the signer does not sign are no one's.
TEST(JarSignature, EdgesOfThePublisherRule) {
    const Sha256Digest a{1}, b{2};
    JarSignatures installed, update;
    installed.signers.push_back({{a, L"CN=A"}, false, 20});
    installed.namedKeys = {b};
    EXPECT_EQ(publisherOf(installed).keys, std::vector{a});
    update.signers.push_back({{b, L"CN=B"}, true, 10});
    for (const auto& [ahead, older] : {std::pair{86400, true}, {86401, false}}) {
        const Publisher publisher{{b}, {}, false, 100 + ahead};
        EXPECT_EQ(refusalOf(publisher, update, 100) == std::wstring(kOlderRelease), older) << ahead;
    }
}

// The keys a manifest names: 64 hex digits each, in either case, apart by blanks or tabs; one
// name that is not such names none.
TEST(JarSignature, KeysAManifestNames) {
    Sha256Digest key;
    std::string hex;
    for (unsigned char i = 0; i < key.size(); ++i)
        key[i] = i, hex += {"0123456789abcdef"[i >> 4], "0123456789abcdef"[i & 15]};
    std::string cased = hex;
    for (char& c : cased) c = static_cast<char>(std::toupper(c));
    const struct {
        std::string value;
        std::vector<Sha256Digest> keys;
    } cases[] = {
        {hex, {key}},    {cased + " \t" + hex + " ", {key, key}},   {hex.substr(1), {}},
        {hex + "0", {}}, {hex + " " + hex.substr(0, 63) + "g", {}}, {hex.substr(0, 63) + "G", {}},
    };
    for (const auto& c : cases) {
        OpenSslCrypto crypto;
        JarDigests digests(crypto);
        const KeptFiles kept{
            {"META-INF/MANIFEST.MF", "Velmoor-Publisher-Keys: " + c.value + "\r\n\r\n"}};
        EXPECT_EQ(readSignatures(digests, kept).namedKeys, c.keys) << c.value;
    }
}

// Entries are digested only with the algorithm the manifest's entry digests use: three where one
// is needed would cost the copy its speed.
TEST(JarDigests, EntriesDigestedWithTheManifestsAlgorithmOnly) {
    for (const auto& [jar, used] :
         {std::pair{"v1-rsa", BlockAlgorithm::sha256}, {"v1-sha512", BlockAlgorithm::sha512}}) {
        OpenSslCrypto crypto;
        JarDigests digests(crypto);
        JarPass pass(digests.hooks());
        const std::vector<unsigned char> bytes = signedFile(std::string(jar) + ".jar");
        MemorySource source(bytes);
        ASSERT_EQ(verifyJar(source, pass), JarVerdict::complete);
        for (const JarDigests::Digest& digest : *digests.workers().at(0))
            for (const DigestAlgorithm algorithm : kDigestAlgorithms)
                EXPECT_EQ(digest.digests[algorithm].empty(), algorithm != used) << digest.name;
        // The signature files are kept for the signature's reading, and no other entry.
        for (const auto& kept : pass.kept())
            EXPECT_TRUE(kept.first.starts_with("META-INF/")) << kept.first;
    }
}

// RFC 4648's vectors: no bytes, and each length modulo 3.
TEST(Base64, TheStandardsVectors) {
    const std::pair<std::string_view, std::string_view> cases[] = {{"", ""},
                                                                   {"f", "Zg=="},
                                                                   {"fo", "Zm8="},
                                                                   {"foo", "Zm9v"},
                                                                   {"foob", "Zm9vYg=="},
                                                                   {"fooba", "Zm9vYmE="},
                                                                   {"foobar", "Zm9vYmFy"}};
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(base64({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}),
                  text);
}

// Sections of one name sort in file order whichever of the two the sort compares first.
TEST(SortedByName, ItemsOfOneNameInTheirPlace) {
    struct Section {
        std::string name;
    };
    const std::vector<Section> sections{{"b"}, {"a"}, {"a"}};
    const Section* first[] = {&sections[1], &sections[2]};
    const Section* second[] = {&sections[2], &sections[1]};
    const Section* other[] = {&sections[2], &sections[0]};
    EXPECT_LT(byNameInPlace<Section>(first, first + 1), 0);
    EXPECT_GT(byNameInPlace<Section>(second, second + 1), 0);
    EXPECT_LT(byNameInPlace<Section>(other, other + 1), 0);
}

// Each signature vector as the table gives it: the same table runs through the launcher's own
// crypto under Wine (scenario signature_vectors).
TEST(SignatureVectors, EachJarAsTheTableSays) {
    const std::string folder = std::getenv("VELMOOR_SIGNED_JARS");
    std::map<std::string, std::string> aliases;
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        if (file.path().extension() != ".key") continue;
        const std::vector<unsigned char> key = testjar::fileBytes(file.path());
        aliases[std::string(key.begin(), key.begin() + 64)] = file.path().stem().string();
    }
    std::ifstream table(VELMOOR_VECTORS);
    OpenSslCrypto crypto;
    int rows = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.starts_with('#')) continue;
        line = line.substr(0, line.find(" # wine: "));
        const std::string jar = line.substr(0, line.find(" | "));
        EXPECT_EQ(jar + " | " + vectors::describe(signedFile(jar + ".jar"), crypto, aliases), line);
        ++rows;
    }
    EXPECT_GT(rows, 20);
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
        {{0x30, 8, 2, 3, 0, 0xff, 0xfe, 2, 1, 2}, Bytes{0xff, 0xfe, 0, 2}},
        {{0x30, 8, 2, 3, 1, 0, 0, 2, 1, 2}, {}},
        {{0x30, 6, 2, 1, 1, 2, 1, 2, 0}, {}},
        {{0x30, 9, 2, 1, 1, 2, 1, 2, 2, 1, 3}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(rawEcdsaSignature(c.der, 2), c.raw);
}

}  // namespace
}  // namespace velmoor
