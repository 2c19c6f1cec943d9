// RIPEMD-256, as published by Dobbertin, Bosselaers and Preneel: a 256-bit
// digest built from two parallel RIPEMD-128 lines that exchange one register
// after each round.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace volok {

class Ripemd256 final {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  Ripemd256();
  void Update(const void* data, std::size_t size);
  Digest Finish();

  static Digest Of(std::string_view bytes);

 private:
  void Compress(const std::uint8_t block[64]);

  std::uint32_t FState[8];
  std::uint8_t FBuffer[64];
  std::size_t FBuffered = 0;
  std::uint64_t FLength = 0;
};

}  // namespace volok
