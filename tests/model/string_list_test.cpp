// Option lists: the delimited-text scan and the lookup.
#include "model/string_list.h"

#include <gtest/gtest.h>

namespace volok {
namespace {

std::string Items(std::string_view text) {
  TStringList list;
  list.SetDelimitedText(text);
  std::string joined;
  for (const std::string& item : list.Items()) joined += "[" + item + "]";
  return joined;
}

TEST(StringListTest, DelimitedTextIsSplitAtCommasBlanksAndControls) {
  struct Case {
    std::string_view text;
    const char* items;
  } cases[] = {
      {"", ""},
      {" \t\r\n ", ""},
      {"a,b", "[a][b]"},
      {"a, b", "[a][b]"},
      {"a b", "[a][b]"},
      {"  a\t\r\nb  ", "[a][b]"},
      {"a,,b", "[a][][b]"},
      {",a", "[][a]"},
      {"a,", "[a][]"},
      {"a, ", "[a]"},
      {"\"two words\",x", "[two words][x]"},
      {"\"a,b\" c", "[a,b][c]"},
      {"\"say \"\"hi\"\"\"", "[say \"hi\"]"},
      {"\"\"", "[]"},
      {"\"open", "[open]"},
      {"a\"b", "[a\"b]"},
      {"\"q\"tail", "[q][tail]"},
      {"полная, Документы", "[полная][Документы]"},
      {std::string_view("a,b\0c", 5), "[a][b]"},
  };
  for (const Case& c : cases) EXPECT_EQ(Items(c.text), c.items) << c.text;
}

TEST(StringListTest, RefillingReplacesTheItems) {
  TStringList list;
  list.SetDelimitedText("a,b,c");
  list.SetDelimitedText("d");
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list[0], "d");
}

TEST(StringListTest, LookupIgnoresCaseOnlyWhenAsked) {
  TStringList exact;
  exact.SetDelimitedText("full,Docs,Документы");
  EXPECT_EQ(exact.IndexOf("Docs"), 1);
  EXPECT_EQ(exact.IndexOf("DOCS"), -1);
  EXPECT_EQ(exact.IndexOf("doc"), -1);

  TStringList folded(false);
  folded.SetDelimitedText("full,Docs,Документы,docs");
  EXPECT_EQ(folded.IndexOf("DOCS"), 1);
  EXPECT_EQ(folded.IndexOf("ДОКУМЕНТЫ"), 2);
  EXPECT_EQ(folded.IndexOf("FULL"), 0);
  EXPECT_EQ(folded.IndexOf(""), -1);
}

}  // namespace
}  // namespace volok
