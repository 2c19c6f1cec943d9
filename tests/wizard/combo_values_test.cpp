#include <gtest/gtest.h>

#include "wizard/combo_values.h"

namespace volok {
namespace {

TEST(ComboValuesTest, SplitsAtSemicolonsOnlyWithQuotes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitComboValues(""), V{});
  EXPECT_EQ(SplitComboValues("ru;en;de"), (V{"ru", "en", "de"}));
  EXPECT_EQ(SplitComboValues("a;;b"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitComboValues("a;"), (V{"a", ""}));
  EXPECT_EQ(SplitComboValues("two words; x"), (V{"two words", " x"}));
  EXPECT_EQ(SplitComboValues("\"a;b\";\"say \"\"hi\"\"\""), (V{"a;b", "say \"hi\""}));
  EXPECT_EQ(SplitComboValues("\"open"), V{"open"});
}

}  // namespace
}  // namespace volok
