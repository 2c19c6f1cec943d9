#include "common/text.h"

#include <gtest/gtest.h>

namespace volok {
namespace {

TEST(TextTest, TrimRemovesControlCodesAndBlanksOnly) {
  EXPECT_EQ(Trim(" \t\r\n\x01x y\x1f "), "x y");
  EXPECT_EQ(Trim("\xC2\xA0x"), "\xC2\xA0x");  // NBSP is above 32: kept
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a "), "  a");
}

TEST(TextTest, CodePointsAreCountedNotBytes) {
  EXPECT_EQ(CodePointCount("Привет"), 6u);
  EXPECT_EQ(CodePointCount("a\xF0\x9F\x98\x80"), 2u);
  // Broken sequences count one replacement per offending byte.
  EXPECT_EQ(SanitizeUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong '/'
  EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
  EXPECT_EQ(SanitizeUtf8("\xD0"), "\xEF\xBF\xBD");  // truncated
}

TEST(TextTest, Utf16RoundTripsIncludingSurrogatePairs) {
  std::string text = "Ёж \xF0\x9F\x98\x80 z";
  std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"Ёж \U0001F600 z");
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

TEST(TextTest, CaseFoldingCoversCyrillic) {
  EXPECT_EQ(LowerCase("ПРИВЕТ Ёж ABC"), "привет ёж abc");
  EXPECT_EQ(UpperCase("привет ёж abc"), "ПРИВЕТ ЁЖ ABC");
  EXPECT_TRUE(SameText("Full", "fULL"));
  EXPECT_TRUE(SameText("Документы", "ДОКУМЕНТЫ"));
  EXPECT_FALSE(SameText("docs", "doc"));
}

}  // namespace
}  // namespace volok
