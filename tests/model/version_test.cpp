// Version texts and the number texts of descriptions.
#include "model/version.h"

#include <gtest/gtest.h>

#include "model/number_text.h"

namespace volok {
namespace {

TEST(VersionTest, PartsAreReadUntilTheFirstThatIsNoNumber) {
  struct Case {
    const char* text;
    int parts;
    const char* version;
  } cases[] = {
      {"", 0, "0.0.0.0"},
      {"beta", 0, "0.0.0.0"},
      {"3", 1, "3.0.0.0"},
      {"2.5", 2, "2.5.0.0"},
      {"3.1.x", 2, "3.1.0.0"},
      {"7.x.1", 1, "7.0.0.0"},
      {"1.2.3.4", 4, "1.2.3.4"},
      {"1.2.3.4.5", 4, "1.2.3.4"},
      {"1.2.3.", 3, "1.2.3.0"},
      {"-1.0", 2, "-1.0.0.0"},
      {"+4.-2", 2, "4.-2.0.0"},
      {"2147483647.-2147483648", 2, "2147483647.-2147483648.0.0"},
      {"2147483648.1", 0, "0.0.0.0"},
      {"1. 2", 1, "1.0.0.0"},
      {".1", 0, "0.0.0.0"},
      {"$A.1", 0, "0.0.0.0"},
  };
  for (const Case& c : cases) {
    TVersion version{9, 9, 9, 9};
    EXPECT_EQ(StrToVersion(c.text, version), c.parts) << c.text;
    EXPECT_EQ(VersionToStr(version), c.version) << c.text;
  }
}

TEST(NumberTextTest, OnlyTheWholeTextInRangeIsANumber) {
  std::uint32_t u = 7;
  EXPECT_TRUE(TryStrToUInt32("4294967295", u));
  EXPECT_EQ(u, 4294967295u);
  EXPECT_TRUE(TryStrToUInt32("+0012", u));
  EXPECT_EQ(u, 12u);
  for (const char* bad : {"", "+", "-1", "4294967296", "99999999999999999999", "1 ", "0x10", "1e3"}) {
    u = 7;
    EXPECT_FALSE(TryStrToUInt32(bad, u)) << bad;
    EXPECT_EQ(u, 7u) << bad;
  }

  EXPECT_TRUE(TryHexToUInt32("1a2B", u));
  EXPECT_EQ(u, 0x1A2Bu);
  EXPECT_TRUE(TryHexToUInt32("00000000FFFFFFFF", u));
  EXPECT_EQ(u, 0xFFFFFFFFu);
  for (const char* bad : {"", "0x1A", "$1A", "1FFFFFFFF", "12G", "-1"}) EXPECT_FALSE(TryHexToUInt32(bad, u)) << bad;

  std::int32_t i = 0;
  EXPECT_TRUE(TryStrToInt32("-2147483648", i));
  EXPECT_EQ(i, INT32_MIN);
  EXPECT_FALSE(TryStrToInt32("-2147483649", i));
  EXPECT_FALSE(TryStrToInt32("-", i));
  EXPECT_FALSE(TryStrToInt32("--1", i));
}

}  // namespace
}  // namespace volok
