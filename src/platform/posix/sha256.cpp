#include "platform/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace volok::platform {

namespace {

class OpenSslSha256 final : public Sha256 {
 public:
  OpenSslSha256() : FContext(EVP_MD_CTX_new()) {
    if (!FContext || EVP_DigestInit_ex(FContext, EVP_sha256(), nullptr) != 1)
      throw std::runtime_error("OpenSSL: SHA-256 недоступен");
  }
  ~OpenSslSha256() override { EVP_MD_CTX_free(FContext); }
  OpenSslSha256(const OpenSslSha256&) = delete;
  OpenSslSha256& operator=(const OpenSslSha256&) = delete;

  void Update(const void* data, std::size_t size) override {
    if (size != 0) (void)EVP_DigestUpdate(FContext, data, size);
  }

  Sha256Digest Final() override {
    Sha256Digest digest{};
    unsigned int length = 0;
    (void)EVP_DigestFinal_ex(FContext, digest.data(), &length);
    (void)EVP_DigestInit_ex(FContext, EVP_sha256(), nullptr);
    return digest;
  }

 private:
  EVP_MD_CTX* FContext;
};

}  // namespace

std::unique_ptr<Sha256> Sha256::Create() { return std::make_unique<OpenSslSha256>(); }

}  // namespace volok::platform
