// SHA-256 from the platform's own implementation (Windows: CNG's BCrypt;
// POSIX: OpenSSL's libcrypto), never a hand-written one: the hash vouches
// for what an elevated run installs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace volok::platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

// One running hash. Not thread-safe; one user at a time.
class Sha256 {
 public:
  virtual ~Sha256() = default;
  // A fresh hash; throws std::runtime_error only when the system's provider
  // cannot be used at all.
  static std::unique_ptr<Sha256> Create();
  virtual void Update(const void* data, std::size_t size) = 0;
  // The digest of everything fed in; the hash starts over afterwards.
  virtual Sha256Digest Final() = 0;
};

}  // namespace volok::platform
