// The POSIX case mapping with and without the C.UTF-8 locale; the locale is
// handed in, so the fallback is checked without removing locales.
#ifndef _WIN32
#include "platform/posix/case_mapping.h"

#include <gtest/gtest.h>

namespace volok::platform::posix {
namespace {

TEST(CaseMappingTest, UnicodeLettersUnderCUtf8) {
  ASSERT_NE(CaseLocale(), nullptr) << "this system has no C.UTF-8 locale";
  EXPECT_EQ(MapCase("Ёлка FILE.txt", false, CaseLocale()), "ёлка file.txt");
  EXPECT_EQ(MapCase("ёлка file.txt", true, CaseLocale()), "ЁЛКА FILE.TXT");
  EXPECT_EQ(MapCase("a\xFF" "B", false, CaseLocale()), "a\xFF" "b");
}

TEST(CaseMappingTest, OnlyAsciiLettersWithoutALocale) {
  EXPECT_EQ(MapCase("Ёлка FILE.txt", false, nullptr), "Ёлка file.txt");
  EXPECT_EQ(MapCase("ёлка file.txt", true, nullptr), "ёлка FILE.TXT");
  EXPECT_EQ(MapCase(std::string_view("A\0\xFF[@`{z", 7), true, nullptr), std::string_view("A\0\xFF[@`{Z", 7));
  EXPECT_EQ(MapCase("", false, nullptr), "");
}

}  // namespace
}  // namespace volok::platform::posix
#endif
