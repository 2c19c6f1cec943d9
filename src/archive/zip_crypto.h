// The traditional PKWARE encryption of APPNOTE 6.1: three 32-bit keys
// advanced by every plain byte. Weak by today's measure; it is used because
// every ZIP tool can open it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace volok::archive {

// The 12-byte header that precedes an item's encrypted data.
inline constexpr std::size_t ZipCryptHeaderSize = 12;
using ZipCryptHeader = std::array<std::uint8_t, ZipCryptHeaderSize>;

// One cipher state for one item: construct from the password, then feed the
// item's bytes in order. Not reusable across items.
class ZipCrypto final {
 public:
  explicit ZipCrypto(std::string_view password);

  void Encrypt(std::uint8_t* data, std::size_t size);
  void Decrypt(std::uint8_t* data, std::size_t size);

  // A fresh header whose last plain byte is `check` (bytes drawn from
  // `seed` before it), encrypted in place with this state.
  ZipCryptHeader MakeHeader(std::uint8_t check, std::uint64_t seed);
  // A seed that differs between the items of one archive: from the stored
  // name, time and size.
  static std::uint64_t HeaderSeed(std::string_view name, std::uint32_t dos_time, std::uint64_t size);
  // Decrypts `header` and answers whether its last byte equals `check`.
  [[nodiscard]] bool AcceptHeader(ZipCryptHeader header, std::uint8_t check);

 private:
  void UpdateKeys(std::uint8_t plain);

  std::uint32_t FKey0 = 0x12345678;
  std::uint32_t FKey1 = 0x23456789;
  std::uint32_t FKey2 = 0x34567890;
};

}  // namespace volok::archive
