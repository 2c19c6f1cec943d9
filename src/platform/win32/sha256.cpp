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
  decltype(&BCryptCloseAlgorithmProvider) CloseProvider =
      Get<decltype(&BCryptCloseAlgorithmProvider)>("BCryptCloseAlgorithmProvider");
  bool Complete() const { return Open && CreateHash && HashData && FinishHash && DestroyHash && CloseProvider; }
};

const BCryptApi& Api() {
  static const BCryptApi api;
  return api;
}

// Windows 7 has no reusable hash objects (BCRYPT_HASH_REUSABLE_FLAG): a
// fresh one follows each digest.
class BCryptSha256 final : public Sha256 {
 public:
  BCryptSha256() {
    if (!Api().Complete() || !BCRYPT_SUCCESS(Api().Open(&FAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !Begin()) {
      Close();
      throw std::runtime_error("CNG: SHA-256 недоступен");
    }
  }
  ~BCryptSha256() override { Close(); }
  BCryptSha256(const BCryptSha256&) = delete;
  BCryptSha256& operator=(const BCryptSha256&) = delete;

  void Update(const void* data, std::size_t size) override {
    // BCryptHashData takes a 32-bit length and a non-const buffer it only reads.
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (size > 0) {
      ULONG part = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
      (void)Api().HashData(FHash, bytes, part, 0);
      bytes += part;
      size -= part;
    }
  }

  Sha256Digest Final() override {
    Sha256Digest digest{};
    (void)Api().FinishHash(FHash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    Api().DestroyHash(FHash);
    FHash = nullptr;
    if (!Begin()) throw std::runtime_error("CNG: SHA-256 недоступен");
    return digest;
  }

 private:
  bool Begin() { return BCRYPT_SUCCESS(Api().CreateHash(FAlgorithm, &FHash, nullptr, 0, nullptr, 0, 0)); }
  void Close() {
    if (FHash) Api().DestroyHash(FHash);
    if (FAlgorithm) Api().CloseProvider(FAlgorithm, 0);
    FHash = nullptr;
    FAlgorithm = nullptr;
  }

  BCRYPT_ALG_HANDLE FAlgorithm = nullptr;
  BCRYPT_HASH_HANDLE FHash = nullptr;
};

}  // namespace

std::unique_ptr<Sha256> Sha256::Create() { return std::make_unique<BCryptSha256>(); }

}  // namespace volok::platform
