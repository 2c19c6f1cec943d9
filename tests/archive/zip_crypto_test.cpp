#include "archive/zip_crypto.h"

#include <gtest/gtest.h>

#include <vector>

#include "archive/zip_time.h"

namespace volok::archive {
namespace {

// Cipher text 00..0F under "secret", decrypted by python's zipfile.
const std::uint8_t PythonPlain[16] = {0xC8, 0x4E, 0xD9, 0xBD, 0xAD, 0x8B, 0x91, 0xDA,
                                      0xA8, 0x48, 0x36, 0x35, 0x43, 0xFB, 0x33, 0x93};

TEST(ZipCrypto, MatchesAnIndependentImplementation) {
  std::vector<std::uint8_t> data(PythonPlain, PythonPlain + 16);
  ZipCrypto("secret").Encrypt(data.data(), data.size());
  for (std::size_t i = 0; i < data.size(); ++i) EXPECT_EQ(data[i], i) << i;
  ZipCrypto("secret").Decrypt(data.data(), data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), PythonPlain));
}

TEST(ZipCrypto, HeaderCheckByteRejectsAnotherPassword) {
  int accepted_by_wrong = 0;
  for (int i = 0; i < 200; ++i) {
    ZipCryptHeader header = ZipCrypto("right").MakeHeader(0x5A, ZipCrypto::HeaderSeed("a", 0, static_cast<unsigned>(i)));
    EXPECT_TRUE(ZipCrypto("right").AcceptHeader(header, 0x5A));
    if (ZipCrypto("wrong").AcceptHeader(header, 0x5A)) ++accepted_by_wrong;
  }
  // One byte of check: a wrong password passes about once in 256 headers.
  EXPECT_LT(accepted_by_wrong, 6);
  // Items of one archive differ in name: equal files do not encrypt alike;
  // the same item encrypts alike every time, so packages are reproducible.
  EXPECT_NE(ZipCrypto("right").MakeHeader(1, ZipCrypto::HeaderSeed("a.txt", 7, 5)),
            ZipCrypto("right").MakeHeader(1, ZipCrypto::HeaderSeed("b.txt", 7, 5)));
  EXPECT_EQ(ZipCrypto("right").MakeHeader(1, ZipCrypto::HeaderSeed("a.txt", 7, 5)),
            ZipCrypto("right").MakeHeader(1, ZipCrypto::HeaderSeed("a.txt", 7, 5)));
}

TEST(ZipTime, DosTimesRoundTripInTwoSecondSteps) {
  // 2021-05-06 07:08:10 local; built through DOS fields so no time zone
  // enters the expectation.
  std::uint32_t dos = ((41u << 9 | 5u << 5 | 6u) << 16) | (7u << 11 | 8u << 5 | 5u);
  std::uint64_t file_time = DosToFileTime(dos);
  EXPECT_EQ(FileTimeToDos(file_time), dos);
  EXPECT_EQ(FileTimeToDos(file_time + 10'000'000), dos);  // odd second rounds down
  EXPECT_EQ(FileTimeToDos(file_time + 20'000'000), dos + 1);
  // Before 1980 DOS cannot say; the first DOS day stands in.
  EXPECT_EQ(FileTimeToDos(0), 0x00210000u);
  // Damaged fields still give a time, not a failure.
  EXPECT_NE(DosToFileTime(0), 0u);
}

}  // namespace
}  // namespace volok::archive
