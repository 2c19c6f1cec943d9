#include "common/blowfish.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace volok {

namespace {

std::uint32_t LoadBigEndian(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

void StoreBigEndian(std::uint32_t v, std::uint8_t* p) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace

Blowfish::Blowfish(const std::uint8_t* key, std::size_t size) {
  std::memcpy(FP, blowfish_tables::kInitialP, sizeof FP);
  std::memcpy(FS, blowfish_tables::kInitialS, sizeof FS);
  if (size == 0) throw std::invalid_argument("Blowfish needs a key of at least one byte");
  size = std::min(size, kMaxKeySize);
  // The key, repeated cyclically, is folded into the P-array...
  std::size_t k = 0;
  for (std::uint32_t& p : FP) {
    std::uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
      word = (word << 8) | key[k];
      k = (k + 1) % size;
    }
    p ^= word;
  }
  // ...then the cipher itself, encrypting a running block, replaces every
  // P entry and S-box entry in order.
  std::uint32_t left = 0, right = 0;
  for (std::size_t i = 0; i < 18; i += 2) {
    Encrypt(left, right);
    FP[i] = left;
    FP[i + 1] = right;
  }
  for (auto& box : FS) {
    for (std::size_t i = 0; i < 256; i += 2) {
      Encrypt(left, right);
      box[i] = left;
      box[i + 1] = right;
    }
  }
}

std::uint32_t Blowfish::Round(std::uint32_t x) const {
  return ((FS[0][x >> 24] + FS[1][(x >> 16) & 0xFF]) ^ FS[2][(x >> 8) & 0xFF]) + FS[3][x & 0xFF];
}

void Blowfish::Encrypt(std::uint32_t& left, std::uint32_t& right) const {
  for (int i = 0; i < 16; ++i) {
    left ^= FP[i];
    right ^= Round(left);
    std::swap(left, right);
  }
  std::swap(left, right);
  right ^= FP[16];
  left ^= FP[17];
}

void Blowfish::Decrypt(std::uint32_t& left, std::uint32_t& right) const {
  for (int i = 17; i > 1; --i) {
    left ^= FP[i];
    right ^= Round(left);
    std::swap(left, right);
  }
  std::swap(left, right);
  right ^= FP[1];
  left ^= FP[0];
}

void Blowfish::EncryptBlock(const std::uint8_t in[kBlockSize], std::uint8_t out[kBlockSize]) const {
  std::uint32_t left = LoadBigEndian(in), right = LoadBigEndian(in + 4);
  Encrypt(left, right);
  StoreBigEndian(left, out);
  StoreBigEndian(right, out + 4);
}

void Blowfish::DecryptBlock(const std::uint8_t in[kBlockSize], std::uint8_t out[kBlockSize]) const {
  std::uint32_t left = LoadBigEndian(in), right = LoadBigEndian(in + 4);
  Decrypt(left, right);
  StoreBigEndian(left, out);
  StoreBigEndian(right, out + 4);
}

}  // namespace volok
