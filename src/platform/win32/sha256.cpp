#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>

#include "platform/sha256.h"
#include "platform/win32/system_library.h"

namespace volok::platform {

namespace {

// bcrypt.dll is no Known DLL: a static import would let the loader take one
// planted beside setup.exe. Its functions come from the system folder.
struct BCryptApi {
  template <typename Fn>
  static Fn Get(const char* name) {
    return win32::SystemFunction<Fn>(L"bcrypt.dll", name);
  }
  decltype(&BCryptOpenAlgorithmProvider) Open =
      Get<decltype(&BCryptOpenAlgorithmProvider)>("BCryptOpenAlgorithmProvider");
  decltype(&BCryptCreateHash) CreateHash = Get<decltype(&BCryptCreateHash)>("BCryptCreateHash");
  decltype(&BCryptHashData) HashData = Get<decltype(&BCryptHashData)>("BCryptHashData");
  decltype(&BCryptFinishHash) FinishHash = Get<decltype(&BCryptFinishHash)>("BCryptFinishHash");
  decltype(&BCryptDestroyHash) DestroyHash = Get<decltype(&BCryptDestroyHash)>("BCryptDestroyHash");
  decltype(&BCryptCloseAlgorithmProvider) Close =
      Get<decltype(&BCryptCloseAlgorithmProvider)>("BCryptCloseAlgorithmProvider");
  bool Complete() const { return Open && CreateHash && HashData && FinishHash && DestroyHash && Close; }
};

const BCryptApi& Api() {
  static const BCryptApi api;
  return api;
}

class BCryptSha256 final : public Sha256 {
 public:
  BCryptSha256() {
    // A reusable hash object starts over after each BCryptFinishHash.
    const BCryptApi& api = Api();
    if (!api.Complete() ||
        !BCRYPT_SUCCESS(api.Open(&FAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_HASH_REUSABLE_FLAG)) ||
        !BCRYPT_SUCCESS(api.CreateHash(FAlgorithm, &FHash, nullptr, 0, nullptr, 0, BCRYPT_HASH_REUSABLE_FLAG))) {
      Close();
      throw std::runtime_error("CNG: SHA-256 недоступен");
    }
  }
  ~BCryptSha256() override { Close(); }
  BCryptSha256(const BCryptSha256&) = delete;
  BCryptSha256& operator=(const BCryptSha256&) = delete;

  void Update(const void* data, std::size_t size) override {
    // BCryptHashData takes a 32-bit length.
    const auto* bytes = static_cast<const UCHAR*>(const_cast<void*>(data));
    while (size > 0) {
      ULONG part = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
      (void)Api().HashData(FHash, const_cast<PUCHAR>(bytes), part, 0);
      bytes += part;
      size -= part;
    }
  }

  Sha256Digest Final() override {
    Sha256Digest digest{};
    (void)Api().FinishHash(FHash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    return digest;
  }

 private:
  void Close() {
    if (FHash) Api().DestroyHash(FHash);
    if (FAlgorithm) Api().Close(FAlgorithm, 0);
    FHash = nullptr;
    FAlgorithm = nullptr;
  }

  BCRYPT_ALG_HANDLE FAlgorithm = nullptr;
  BCRYPT_HASH_HANDLE FHash = nullptr;
};

}  // namespace

std::unique_ptr<Sha256> Sha256::Create() { return std::make_unique<BCryptSha256>(); }

}  // namespace volok::platform
