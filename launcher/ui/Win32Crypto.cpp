#include "Win32Crypto.h"

#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Win32Error.h"
#include "WinHandles.h"
#include "core/signature/SignatureBlock.h"

namespace velmoor {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

bool succeeded(NTSTATUS status) {
    return status >= 0;
}

PlatformError cngError(NTSTATUS status) {
    return PlatformError(static_cast<std::uint32_t>(status),
                         describeError(HRESULT_FROM_NT(status)));
}

void destroyHash(BCRYPT_HASH_HANDLE hash) {
    ::BCryptDestroyHash(hash);
}
using HashHandle = UniqueHandle<BCRYPT_HASH_HANDLE, destroyHash>;

HashHandle createHash(BCRYPT_ALG_HANDLE algorithm) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    // Without a buffer of ours, CNG allocates the hash object itself (Windows 7 and later).
    const NTSTATUS status = ::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
    if (!succeeded(status)) throw cngError(status);
    return HashHandle(hash);
}

// The CNG names of the digests, by DigestAlgorithm, and their lengths.
constexpr const wchar_t* kCngHashes[] = {BCRYPT_SHA256_ALGORITHM, BCRYPT_SHA384_ALGORITHM,
                                         BCRYPT_SHA512_ALGORITHM};
constexpr ULONG kHashLengths[] = {32, 48, 64};

class CngHash final : public Hash {
  public:
    CngHash(BCRYPT_ALG_HANDLE algorithm, ULONG length)
        : hash_(createHash(algorithm)), length_(length) {}

    void update(std::span<const unsigned char> bytes) override {
        // BCryptHashData takes a ULONG count: a larger span goes in parts.
        while (!bytes.empty()) {
            const auto part = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
            const NTSTATUS status =
                ::BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes.data()), part, 0);
            if (!succeeded(status)) throw cngError(status);
            bytes = bytes.subspan(part);
        }
    }
    std::vector<unsigned char> finish() override {
        std::vector<unsigned char> digest(length_);
        const NTSTATUS status = ::BCryptFinishHash(hash_.get(), digest.data(), length_, 0);
        if (!succeeded(status)) throw cngError(status);
        return digest;
    }

  private:
    HashHandle hash_;
    ULONG length_;
};

void closeMessage(HCRYPTMSG message) {
    ::CryptMsgClose(message);
}
void closeStore(HCERTSTORE store) {
    ::CertCloseStore(store, 0);
}
void freeCertificate(PCCERT_CONTEXT certificate) {
    ::CertFreeCertificateContext(certificate);
}
void destroyKey(BCRYPT_KEY_HANDLE key) {
    ::BCryptDestroyKey(key);
}
using MessageHandle = UniqueHandle<HCRYPTMSG, closeMessage>;
using StoreHandle = UniqueHandle<HCERTSTORE, closeStore>;
using CertificateHandle = UniqueHandle<PCCERT_CONTEXT, freeCertificate>;
using KeyHandle = UniqueHandle<BCRYPT_KEY_HANDLE, destroyKey>;

// A parameter of the decoded message, in a buffer of its own; empty when the message lacks it.
std::vector<unsigned char> messageParameter(HCRYPTMSG message, DWORD type) {
    DWORD size = 0;
    if (!::CryptMsgGetParam(message, type, 0, nullptr, &size) || size == 0) return {};
    std::vector<unsigned char> buffer(size);
    if (!::CryptMsgGetParam(message, type, 0, buffer.data(), &size)) return {};
    return buffer;
}

std::wstring subjectOf(PCCERT_CONTEXT certificate) {
    // Most significant part last, as java and keytool show a name.
    constexpr DWORD kForm = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    CERT_NAME_BLOB* name = &certificate->pCertInfo->Subject;
    const DWORD length = ::CertNameToStrW(X509_ASN_ENCODING, name, kForm, nullptr, 0);
    std::wstring text(length, L'\0');
    ::CertNameToStrW(X509_ASN_ENCODING, name, kForm, text.data(), length);
    text.resize(length > 0 ? length - 1 : 0);
    return text;
}

// The messageDigest among the signed attributes: exactly one attribute of it, of one value.
std::optional<std::vector<unsigned char>> messageDigestOf(const CRYPT_ATTRIBUTES& attributes) {
    const CRYPT_ATTRIBUTE* found = nullptr;
    for (DWORD i = 0; i < attributes.cAttr; ++i) {
        if (std::strcmp(attributes.rgAttr[i].pszObjId, szOID_RSA_messageDigest) != 0) continue;
        if (found || attributes.rgAttr[i].cValue != 1) return std::nullopt;
        found = &attributes.rgAttr[i];
    }
    if (!found) return std::nullopt;
    DWORD size = 0;
    const CRYPT_ATTR_BLOB& value = found->rgValue[0];
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_OCTET_STRING, value.pbData, value.cbData, 0,
                               nullptr, nullptr, &size))
        return std::nullopt;
    std::vector<unsigned char> buffer(size);
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_OCTET_STRING, value.pbData, value.cbData, 0,
                               nullptr, buffer.data(), &size))
        return std::nullopt;
    const auto* octets = reinterpret_cast<const CRYPT_DATA_BLOB*>(buffer.data());
    return std::vector<unsigned char>(octets->pbData, octets->pbData + octets->cbData);
}

// Verifies the signature over the hash with the certificate's key, imported into CNG (the legacy
// import takes no EC key under Wine): RSA with PKCS #1 v1.5 or PSS padding, the signature as the
// block holds it; ECDSA with r and s turned from DER into the fixed-size halves CNG takes.
bool signatureVerifies(PCCERT_CONTEXT certificate, const BlockAlgorithm& algorithm,
                       std::span<const unsigned char> hash,
                       std::span<const unsigned char> signature, bool& unsupported) {
    CERT_PUBLIC_KEY_INFO info = certificate->pCertInfo->SubjectPublicKeyInfo;
    const std::string_view keyAlgorithm = info.Algorithm.pszObjId;
    const bool rsa =
        algorithm.kind == BlockAlgorithm::rsa || algorithm.kind == BlockAlgorithm::rsaPss;
    // A key marked for PSS alone holds the same RSAPublicKey, which the import takes as RSA.
    char rsaOid[] = szOID_RSA_RSA;
    if (algorithm.kind == BlockAlgorithm::rsaPss && keyAlgorithm == szOID_RSA_SSA_PSS)
        info.Algorithm = {rsaOid, {}};
    const std::string_view imported = info.Algorithm.pszObjId;
    if (rsa ? imported != szOID_RSA_RSA : imported != szOID_ECC_PUBLIC_KEY) return false;
    BCRYPT_KEY_HANDLE handle = nullptr;
    // A key the platform cannot import (Wine has no P-521) is one it cannot verify with.
    if (!::CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, &info, 0, nullptr, &handle)) {
        unsupported = true;
        return false;
    }
    const KeyHandle key(handle);
    std::vector<unsigned char> bytes(signature.begin(), signature.end());
    BCRYPT_PKCS1_PADDING_INFO pkcs1{kCngHashes[algorithm.hash]};
    BCRYPT_PSS_PADDING_INFO pss{kCngHashes[algorithm.hash], algorithm.pssSaltLength};
    void* paddingInfo = nullptr;
    ULONG flags = 0;
    if (algorithm.kind == BlockAlgorithm::rsa) {
        paddingInfo = &pkcs1, flags = BCRYPT_PAD_PKCS1;
    } else if (algorithm.kind == BlockAlgorithm::rsaPss) {
        paddingInfo = &pss, flags = BCRYPT_PAD_PSS;
    } else {
        // Each half is as long as a coordinate of the key's point, which the certificate holds
        // uncompressed: 0x04, then x and y. (Wine cannot tell an EC key's length otherwise.)
        if (info.PublicKey.cbData < 3) return false;
        auto raw = rawEcdsaSignature(signature, (info.PublicKey.cbData - 1) / 2);
        if (!raw) return false;
        bytes = std::move(*raw);
    }
    const NTSTATUS status = ::BCryptVerifySignature(
        key.get(), paddingInfo, const_cast<PUCHAR>(hash.data()), static_cast<ULONG>(hash.size()),
        bytes.data(), static_cast<ULONG>(bytes.size()), flags);
    // A padding or curve the platform lacks, rather than a signature that is wrong.
    constexpr auto kNotSupported = static_cast<NTSTATUS>(0xC00000BB);
    constexpr auto kNotImplemented = static_cast<NTSTATUS>(0xC0000002);
    unsupported = status == kNotSupported || status == kNotImplemented;
    return succeeded(status);
}

}  // namespace

Win32Crypto::Win32Crypto() {
    for (const DigestAlgorithm algorithm : kDigestAlgorithms) {
        BCRYPT_ALG_HANDLE handle = nullptr;
        const NTSTATUS status =
            ::BCryptOpenAlgorithmProvider(&handle, kCngHashes[algorithm], nullptr, 0);
        if (!succeeded(status)) throw cngError(status);
        hashes_[algorithm].reset(handle);
    }
}

std::unique_ptr<Hash> Win32Crypto::startHash(DigestAlgorithm algorithm) {
    return std::make_unique<CngHash>(hashes_[algorithm].get(), kHashLengths[algorithm]);
}

bool Win32Crypto::reads(const BlockAlgorithm& algorithm) {
    return algorithm.read();
}

std::optional<BlockSigner> Win32Crypto::verifyBlock(std::span<const unsigned char> block,
                                                    std::span<const unsigned char> content,
                                                    bool& unsupported) {
    unsupported = false;
    const MessageHandle message(
        ::CryptMsgOpenToDecode(kEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr));
    if (!message ||
        !::CryptMsgUpdate(message.get(), block.data(), static_cast<DWORD>(block.size()), TRUE))
        return std::nullopt;
    DWORD signers = 0;
    DWORD size = sizeof signers;
    if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) ||
        signers != 1)
        return std::nullopt;
    const std::vector<unsigned char> signerBuffer =
        messageParameter(message.get(), CMSG_SIGNER_INFO_PARAM);
    const std::vector<unsigned char> certInfoBuffer =
        messageParameter(message.get(), CMSG_SIGNER_CERT_INFO_PARAM);
    if (signerBuffer.empty() || certInfoBuffer.empty()) return std::nullopt;
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerBuffer.data());
    const std::optional<BlockAlgorithm> algorithm = blockAlgorithmOf(block);
    if (!algorithm || !reads(*algorithm)) return std::nullopt;

    const StoreHandle store(::CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message.get()));
    if (!store) return std::nullopt;
    const CertificateHandle certificate(::CertGetSubjectCertificateFromStore(
        store.get(), kEncoding,
        const_cast<CERT_INFO*>(reinterpret_cast<const CERT_INFO*>(certInfoBuffer.data()))));
    if (!certificate) return std::nullopt;

    // With signed attributes the signature covers them, and they hold the content's digest,
    // which must be as long as it (a shorter one is a prefix, not a digest).
    std::vector<unsigned char> signedHash = digestOf(*this, algorithm->hash, content);
    if (signer->AuthAttrs.cAttr > 0) {
        const auto digest = messageDigestOf(signer->AuthAttrs);
        const auto attributes = signedAttributesOf(block);
        if (!digest || !attributes || *digest != signedHash) return std::nullopt;
        signedHash = digestOf(*this, algorithm->hash, *attributes);
    }
    if (!signatureVerifies(certificate.get(), *algorithm, signedHash,
                           {signer->EncryptedHash.pbData, signer->EncryptedHash.cbData},
                           unsupported))
        return std::nullopt;
    // The key as the certificate holds it: an encoding made anew differs for a PSS key.
    const auto key = subjectPublicKeyInfoOf(
        {certificate.get()->pbCertEncoded, certificate.get()->cbCertEncoded});
    if (!key) return std::nullopt;
    return BlockSigner{sha256Of(*this, *key), subjectOf(certificate.get())};
}

}  // namespace velmoor
