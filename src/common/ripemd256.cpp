#include "common/ripemd256.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace volok {

namespace {

// Message word order of the left and the right line, round by round.
constexpr std::uint8_t kLeftWord[64] = {
    0, 1, 2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15,
    7, 4, 13, 1,  10, 6,  15, 3,  12, 0, 9,  5,  2,  14, 11, 8,
    3, 10, 14, 4, 9,  15, 8,  1,  2,  7, 0,  6,  13, 11, 5,  12,
    1, 9, 11, 10, 0,  8,  12, 4,  13, 3, 7,  15, 14, 5,  6,  2};
constexpr std::uint8_t kRightWord[64] = {
    5,  14, 7,  0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,
    6,  11, 3,  7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,
    15, 5,  1,  3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,
    8,  6,  4,  1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14};
// Rotation amounts.
constexpr std::uint8_t kLeftShift[64] = {
    11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,
    7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,
    11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,
    11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12};
constexpr std::uint8_t kRightShift[64] = {
    8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,
    9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,
    9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,
    15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8};
constexpr std::uint32_t kLeftConstant[4] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC};
constexpr std::uint32_t kRightConstant[4] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x00000000};

std::uint32_t Rotl(std::uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

// The four boolean functions; the left line uses them in order 0..3, the
// right line in order 3..0.
std::uint32_t F(int j, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  switch (j) {
    case 0: return x ^ y ^ z;
    case 1: return (x & y) | (~x & z);
    case 2: return (x | ~y) ^ z;
    default: return (x & z) | (y & ~z);
  }
}

struct Line {
  std::uint32_t a, b, c, d;
  void Step(std::uint32_t f, std::uint32_t word, std::uint32_t k, unsigned shift) {
    std::uint32_t t = Rotl(a + f + word + k, shift);
    a = d;
    d = c;
    c = b;
    b = t;
  }
};

}  // namespace

Ripemd256::Ripemd256()
    : FState{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0x76543210, 0xFEDCBA98, 0x89ABCDEF, 0x01234567} {}

void Ripemd256::Compress(const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i)
    x[i] = block[4 * i] | (std::uint32_t{block[4 * i + 1]} << 8) | (std::uint32_t{block[4 * i + 2]} << 16) |
           (std::uint32_t{block[4 * i + 3]} << 24);
  Line left{FState[0], FState[1], FState[2], FState[3]};
  Line right{FState[4], FState[5], FState[6], FState[7]};
  for (int round = 0; round < 4; ++round) {
    for (int i = round * 16; i < round * 16 + 16; ++i) {
      left.Step(F(round, left.b, left.c, left.d), x[kLeftWord[i]], kLeftConstant[round], kLeftShift[i]);
      right.Step(F(3 - round, right.b, right.c, right.d), x[kRightWord[i]], kRightConstant[round], kRightShift[i]);
    }
    // The two lines trade one register after each round: A, then B, C, D.
    std::uint32_t* l[4] = {&left.a, &left.b, &left.c, &left.d};
    std::uint32_t* r[4] = {&right.a, &right.b, &right.c, &right.d};
    std::swap(*l[round], *r[round]);
  }
  FState[0] += left.a;
  FState[1] += left.b;
  FState[2] += left.c;
  FState[3] += left.d;
  FState[4] += right.a;
  FState[5] += right.b;
  FState[6] += right.c;
  FState[7] += right.d;
}

void Ripemd256::Update(const void* data, std::size_t size) {
  const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
  FLength += size;
  while (size > 0) {
    std::size_t take = std::min(size, sizeof FBuffer - FBuffered);
    std::memcpy(FBuffer + FBuffered, p, take);
    FBuffered += take;
    p += take;
    size -= take;
    if (FBuffered == sizeof FBuffer) {
      Compress(FBuffer);
      FBuffered = 0;
    }
  }
}

Ripemd256::Digest Ripemd256::Finish() {
  std::uint64_t bits = FLength * 8;
  std::uint8_t pad[72] = {0x80};
  std::size_t pad_size = (FBuffered < 56 ? 56 : 120) - FBuffered;
  Update(pad, pad_size);
  std::uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  Update(length, 8);
  Digest digest;
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<std::uint8_t>(FState[i] >> (8 * j));
  return digest;
}

Ripemd256::Digest Ripemd256::Of(std::string_view bytes) {
  Ripemd256 hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.Finish();
}

}  // namespace volok
