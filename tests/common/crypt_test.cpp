// The description container: wrapping, unwrapping and its malformed inputs.
#include "common/crypt.h"

#include <gtest/gtest.h>

#include <string>

#include "common/error.h"

namespace volok {
namespace {

// Fixed on purpose: a package built by one build of the engine (Windows or
// native) must open in the other, so the container of this text is pinned.
constexpr char kPinnedText[] = "<Installer><Name>Ёж и ель</Name></Installer>";
constexpr char kPinnedContainer[] =
    "5A775A2B30326778396C503178475043305A414952564B45436A4564376B4638554D426738685643426D38754D2B4D5169"
    "63706756674D4C304C2F76617872754334493D";

std::string DecryptMessage(std::string_view container) {
  try {
    DecryptText(container);
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(CryptTest, SizeIsEightDigitsPerStartedThreeBytes) {
  for (size_t n = 1; n <= 40; ++n) {
    std::string text(n, 'x');
    std::string container = EncryptText(text);
    EXPECT_EQ(container.size(), 8 * ((n + 2) / 3)) << n;
    EXPECT_EQ(container.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(DecryptText(container), text) << n;  // short final blocks, padding
  }
}

TEST(CryptTest, WrappingIsDeterministicAndRoundTripsUnicode) {
  std::string text = "<?xml version=\"1.0\"?><Installer><Name>Программа «Ёлка» 😀</Name></Installer>\r\n";
  EXPECT_EQ(EncryptText(text), EncryptText(text));
  EXPECT_EQ(DecryptText(EncryptText(text)), text);
  EXPECT_NE(EncryptText("a"), EncryptText("b"));
}

TEST(CryptTest, PinnedContainerIsTheSameOnEveryBuild) {
  EXPECT_EQ(EncryptText(kPinnedText), kPinnedContainer);
  EXPECT_EQ(DecryptText(kPinnedContainer), kPinnedText);
}

TEST(CryptTest, EmptyMarker) {
  EXPECT_EQ(EncryptText(""), "EMPTY");
  EXPECT_EQ(DecryptText("EMPTY"), "");
  EXPECT_EQ(DecryptMessage("empty"), "Ошибка расшифровки");
  EXPECT_EQ(DecryptMessage(""), "Ошибка расшифровки");
}

TEST(CryptTest, TolerantAndStrictInputs) {
  std::string container = EncryptText("<Installer/>");
  std::string lower = container;
  for (char& c : lower) c = static_cast<char>(tolower(c));
  EXPECT_EQ(DecryptText(lower), "<Installer/>");
  // An odd last character is ignored, so a trailing line feed is harmless...
  EXPECT_EQ(DecryptText(container + "\n"), "<Installer/>");
  // ...but CR LF adds a whole pair that is not hexadecimal.
  EXPECT_EQ(DecryptMessage(container + "\r\n"), "Ошибка расшифровки");
  EXPECT_EQ(DecryptMessage(container.substr(0, container.size() - 2) + "ZZ"), "Ошибка расшифровки");
  EXPECT_EQ(DecryptMessage("3D3D3D3D"), "Ошибка расшифровки");  // "====": no bytes
}

TEST(CryptTest, ForeignKeyGivesTextNotError) {
  std::string container = EncryptToHex("<Installer/>", "111111111111");
  std::string plain = DecryptFromHex(container, "222222222222");
  EXPECT_EQ(plain.size(), 12u);
  EXPECT_NE(plain, "<Installer/>");
}

TEST(CryptTest, HexPairValue) {
  EXPECT_EQ(HexPairValue("41"), 0x41u);
  EXPECT_EQ(HexPairValue("fF"), 0xFFu);
  EXPECT_EQ(HexPairValue("$A"), 10u);
  EXPECT_EQ(HexPairValue("A$"), 0u);
  EXPECT_EQ(HexPairValue("G1"), 0u);
  EXPECT_EQ(HexPairValue("-1"), 0u);
  EXPECT_EQ(HexPairValue(" 1"), 0u);
}

}  // namespace
}  // namespace volok
