// Our Blowfish, RIPEMD-256 and the container's chaining mode against
// Crypto++, an implementation nobody here wrote, on random inputs.
#include <gtest/gtest.h>

#include <crypto++/blowfish.h>
#include <crypto++/ripemd.h>

#include <random>
#include <string>

#include "common/base64.h"
#include "common/blowfish.h"
#include "common/crypt.h"
#include "common/ripemd256.h"

namespace volok {
namespace {

std::string RandomBytes(std::mt19937& random, size_t size) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

const std::uint8_t* U8(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

TEST(CryptoPeerTest, Ripemd256AgreesWithCryptoPlusPlus) {
  std::mt19937 random(20261209);
  for (int i = 0; i < 300; ++i) {
    std::string message = RandomBytes(random, random() % 300);
    CryptoPP::RIPEMD256 peer;
    std::uint8_t expected[32];
    peer.CalculateDigest(expected, U8(message), message.size());
    auto ours = Ripemd256::Of(message);
    ASSERT_EQ(0, memcmp(expected, ours.data(), 32)) << "length " << message.size();
  }
}

TEST(CryptoPeerTest, BlowfishAgreesWithCryptoPlusPlus) {
  std::mt19937 random(7);
  for (int i = 0; i < 300; ++i) {
    std::string key = RandomBytes(random, 4 + random() % 53);  // the peer takes 4 to 56
    std::string block = RandomBytes(random, 8);
    CryptoPP::BlowfishEncryption peer(U8(key), key.size());
    std::uint8_t expected[8], ours[8];
    peer.ProcessBlock(U8(block), expected);
    Blowfish(U8(key), key.size()).EncryptBlock(U8(block), ours);
    ASSERT_EQ(0, memcmp(expected, ours, 8)) << "key length " << key.size();
  }
}

// The container's chaining, written out again over Crypto++'s primitives:
// C = E(P xor F), F = C xor F; a final short block is xored with E(F).
std::string PeerContainer(const std::string& plain, const std::string& key_text) {
  std::uint8_t key[32];
  CryptoPP::RIPEMD256().CalculateDigest(key, U8(key_text), key_text.size());
  CryptoPP::BlowfishEncryption cipher(key, sizeof key);
  std::uint8_t feedback[8], ones[8];
  memset(ones, 0xFF, 8);
  cipher.ProcessBlock(ones, feedback);
  std::string out = plain;
  size_t full = plain.size() / 8 * 8;
  for (size_t i = 0; i < full; i += 8) {
    std::uint8_t block[8];
    for (int j = 0; j < 8; ++j) block[j] = static_cast<std::uint8_t>(plain[i + j]) ^ feedback[j];
    cipher.ProcessBlock(block);
    for (int j = 0; j < 8; ++j) {
      out[i + j] = static_cast<char>(block[j]);
      feedback[j] ^= block[j];
    }
  }
  if (full < plain.size()) {
    std::uint8_t stream[8];
    cipher.ProcessBlock(feedback, stream);
    for (size_t i = full; i < plain.size(); ++i) out[i] = static_cast<char>(plain[i] ^ stream[i - full]);
  }
  std::string hex;
  for (unsigned char c : Base64Encode(out)) {
    static const char digits[] = "0123456789ABCDEF";
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

TEST(CryptoPeerTest, ContainerMatchesTheChainingBuiltOnCryptoPlusPlus) {
  std::mt19937 random(42);
  for (int i = 0; i < 300; ++i) {
    std::string plain = RandomBytes(random, 1 + random() % 200);
    std::string key = RandomBytes(random, 1 + random() % 20);
    std::string ours = EncryptToHex(plain, key);
    ASSERT_EQ(ours, PeerContainer(plain, key)) << "length " << plain.size();
    ASSERT_EQ(DecryptFromHex(ours, key), plain);
  }
}

}  // namespace
}  // namespace volok
