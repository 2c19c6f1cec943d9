// Blowfish, RIPEMD-256 and Base64 against their published test vectors.
#include <gtest/gtest.h>

#include <string>

#include "common/base64.h"
#include "common/blowfish.h"
#include "common/ripemd256.h"

namespace volok {
namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

struct BlowfishVector {
  const char* key;
  const char* plain;
  const char* cipher;
};

TEST(BlowfishTest, MatchesPublishedEcbVectorsBothWays) {
  const BlowfishVector vectors[] = {
      {"0000000000000000", "0000000000000000", "4ef997456198dd78"},
      {"ffffffffffffffff", "ffffffffffffffff", "51866fd5b85ecb8a"},
      {"3000000000000000", "1000000000000001", "7d856f9a613063f2"},
      {"1111111111111111", "1111111111111111", "2466dd878b963c9d"},
      {"0123456789abcdef", "1111111111111111", "61f9c3802281b096"},
      {"fedcba9876543210", "0123456789abcdef", "0aceab0fc6a0a28d"},
      // A key longer than a block, in ASCII.
      {"6162636465666768696a6b6c6d6e6f707172737475767778797a", "424c4f5746495348", "324ed0fef413a203"},
  };
  for (const auto& v : vectors) {
    std::string key = FromHex(v.key), plain = FromHex(v.plain);
    Blowfish cipher(reinterpret_cast<const std::uint8_t*>(key.data()), key.size());
    std::uint8_t out[8], back[8];
    cipher.EncryptBlock(reinterpret_cast<const std::uint8_t*>(plain.data()), out);
    EXPECT_EQ(ToHex(std::string(reinterpret_cast<char*>(out), 8)), v.cipher) << "key " << v.key;
    cipher.DecryptBlock(out, back);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 8), plain) << "key " << v.key;
  }
}

TEST(Ripemd256Test, MatchesTheAuthorsVectors) {
  EXPECT_EQ(ToHex(std::string(reinterpret_cast<const char*>(Ripemd256::Of("").data()), 32)),
            "02ba4c4e5f8ecd1877fc52d64d30e37a2d9774fb1e5d026380ae0168e3c5522d");
  auto hex = [](std::string_view text) {
    auto d = Ripemd256::Of(text);
    return ToHex(std::string(reinterpret_cast<const char*>(d.data()), d.size()));
  };
  EXPECT_EQ(hex("a"), "f9333e45d857f5d90a91bab70a1eba0cfb1be4b0783c9acfcd883a9134692925");
  EXPECT_EQ(hex("abc"), "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65");
  EXPECT_EQ(hex("message digest"), "87e971759a1ce47a514d5c914c392c9018c7c46bc14465554afcdf54a5070c0e");
  EXPECT_EQ(hex("abcdefghijklmnopqrstuvwxyz"), "649d3034751ea216776bf9a18acc81bc7896118a5197968782dd1fd97d8d5133");
  // Padding crosses a block boundary at 56 bytes.
  EXPECT_EQ(hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "3843045583aac6c8c8d9128573e7a9809afb2a0f34ccc36ea9e72f16f6368e3f");
  // One million "a", fed in uneven pieces.
  Ripemd256 hash;
  std::string chunk(997, 'a');
  size_t left = 1000000;
  while (left > 0) {
    size_t n = std::min(left, chunk.size());
    hash.Update(chunk.data(), n);
    left -= n;
  }
  auto d = hash.Finish();
  EXPECT_EQ(ToHex(std::string(reinterpret_cast<const char*>(d.data()), d.size())),
            "ac953744e10e31514c150d4d8d7b677342e33399788296e43ae4850ce4f97978");
}

TEST(Base64Test, EncodesWithPaddingAndDecodesWithSeparators) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64Encode("\xFB\xFF"), "+/8=");
  std::string out;
  EXPECT_TRUE(Base64Decode("Zm9v\r\nYmFy", out));
  EXPECT_EQ(out, "foobar");
  EXPECT_TRUE(Base64Decode("Zg==", out));
  EXPECT_EQ(out, "f");
  EXPECT_TRUE(Base64Decode(" {Zm8=} ", out));
  EXPECT_EQ(out, "fo");
  EXPECT_FALSE(Base64Decode("Zm9v!", out));    // not Base64, not a separator
  EXPECT_FALSE(Base64Decode("Zg==Zg==", out));  // data after padding
  EXPECT_FALSE(Base64Decode("Zm9vY", out));     // a lone sextet holds no byte
  EXPECT_FALSE(Base64Decode(std::string("Zg\0=", 4), out));
}

}  // namespace
}  // namespace volok
