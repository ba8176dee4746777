#include "OpenSslCrypto.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <stdexcept>

namespace velmoor {

namespace {

template <typename T, auto Free>
using Owned = std::unique_ptr<T, decltype([](T* p) { Free(p); })>;
using Bio = Owned<BIO, BIO_free>;
using Cms = Owned<CMS_ContentInfo, CMS_ContentInfo_free>;

class OpenSslHash final : public Hash {
  public:
    explicit OpenSslHash(const EVP_MD* algorithm) {
        if (!context_ || !EVP_DigestInit_ex(context_.get(), algorithm, nullptr))
            throw std::runtime_error("EVP_DigestInit_ex");
    }
    void update(std::span<const unsigned char> bytes) override {
        EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size());
    }
    std::vector<unsigned char> finish() override {
        std::vector<unsigned char> digest(EVP_MAX_MD_SIZE);
        unsigned int length = 0;
        EVP_DigestFinal_ex(context_.get(), digest.data(), &length);
        digest.resize(length);
        return digest;
    }

  private:
    Owned<EVP_MD_CTX, EVP_MD_CTX_free> context_{EVP_MD_CTX_new()};
};

}  // namespace

std::unique_ptr<Hash> OpenSslCrypto::startHash(DigestAlgorithm algorithm) {
    return std::make_unique<OpenSslHash>(algorithm == BlockAlgorithm::sha512   ? EVP_sha512()
                                         : algorithm == BlockAlgorithm::sha384 ? EVP_sha384()
                                                                               : EVP_sha256());
}

std::optional<BlockSigner> OpenSslCrypto::verifyBlock(std::span<const unsigned char> block,
                                                      std::span<const unsigned char> content,
                                                      bool& unsupported) {
    unsupported = false;
    const unsigned char* at = block.data();
    const Cms cms(d2i_CMS_ContentInfo(nullptr, &at, static_cast<long>(block.size())));
    const auto algorithm = blockAlgorithmOf(block);
    if (!cms || sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())) != 1 || !algorithm ||
        !reads(*algorithm))
        return std::nullopt;
    const Bio data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    if (CMS_verify(cms.get(), nullptr, nullptr, data.get(), nullptr,
                   CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    STACK_OF(X509)* signers = CMS_get0_signers(cms.get());
    X509* certificate = sk_X509_value(signers, 0);
    BlockSigner signer;
    unsigned char* key = nullptr;
    const int keyLength = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &key);
    EVP_Digest(key, static_cast<std::size_t>(keyLength), signer.key.data(), nullptr, EVP_sha256(),
               nullptr);
    OPENSSL_free(key);
    const Bio text(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(text.get(), X509_get_subject_name(certificate), 0,
                       XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_DN_REV | XN_FLAG_FN_SN);
    char* bytes = nullptr;
    const long length = BIO_get_mem_data(text.get(), &bytes);
    for (long i = 0; i < length; ++i) signer.subject += static_cast<wchar_t>(bytes[i]);
    sk_X509_free(signers);
    return signer;
}

}  // namespace velmoor
