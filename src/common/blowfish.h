// The Blowfish block cipher (64-bit blocks, 16 rounds, keys of 1 to 56
// bytes). Blocks are read and written as two big-endian 32-bit halves, as
// the published algorithm and its test vectors define.
#pragma once

#include <cstddef>
#include <cstdint>

namespace volok {

namespace blowfish_tables {
extern const std::uint32_t kInitialP[18];
extern const std::uint32_t kInitialS[4][256];
}  // namespace blowfish_tables

class Blowfish final {
 public:
  static constexpr std::size_t kBlockSize = 8;
  static constexpr std::size_t kMaxKeySize = 56;

  // `size` must be 1 to kMaxKeySize; longer keys are cut to 56 bytes as the
  // key schedule cannot use more.
  Blowfish(const std::uint8_t* key, std::size_t size);

  void EncryptBlock(const std::uint8_t in[kBlockSize], std::uint8_t out[kBlockSize]) const;
  void DecryptBlock(const std::uint8_t in[kBlockSize], std::uint8_t out[kBlockSize]) const;

 private:
  std::uint32_t Round(std::uint32_t x) const;
  void Encrypt(std::uint32_t& left, std::uint32_t& right) const;
  void Decrypt(std::uint32_t& left, std::uint32_t& right) const;

  std::uint32_t FP[18];
  std::uint32_t FS[4][256];
};

}  // namespace volok
