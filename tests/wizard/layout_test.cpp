// The window's docking: the sizes the layout gives the main areas, hidden
// pages included, and the options panel's stacking and scrolling.
#include "wizard_fixture.h"

namespace volok {
namespace {

TEST_F(WizardTest, DockingGivesThePagesTheirSpace) {
  WriteDescription("<Install>" + Entry("one", "Nothing") + "</Install>", FTarget.Path());
  auto window = Open();
  EXPECT_EQ(window->nbPages->Bounds(), (ui::TRect{154, 57, 368, 250}));
  // Pages not shown are laid out too: the options page's scroll box.
  EXPECT_EQ(window->sbParams->Bounds().Width, 221);
  EXPECT_EQ(window->sbParams->Bounds().Height, 250 - 8 - 23 - 30 - 23);
  // The progress bar takes its place (with its gap) only once shown.
  int full = window->reLog->Bounds().Height;
  window->pbProgress->SetVisible(true);
  EXPECT_EQ(window->reLog->Bounds().Height, full - 16 - 3);
  EXPECT_EQ(window->pbProgress->Bounds().Top + 16, 250 - 4);
}

TEST_F(WizardTest, OptionsStackInCreationOrderAndScrollWhenTall) {
  std::string options = "<Options><Group><Name>G</Name><DisplayName>Группа</DisplayName></Group>";
  for (int i = 0; i < 12; ++i)
    options += "<Option><Name>o" + std::to_string(i) + "</Name><Type>check</Type><Group>" + (i % 2 ? "G" : "") +
               "</Group><DisplayName>Вариант " + std::to_string(i) + "</DisplayName></Option>";
  options += "<Option><Name>x</Name><Type>other</Type><DisplayName>x</DisplayName></Option></Options>";
  WriteDescription(options + "<Install>" + Entry("one", "Nothing") + "</Install>", FTarget.Path());
  auto window = Open();
  auto* group = window->FindParamControl("pnParamsg");
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(window->FindParamControl("btParamsx"), nullptr);
  const auto& children = window->sbParams->Children();
  ASSERT_EQ(children.size(), 7u);  // the group panel, then six options without a group
  int top = 0;
  for (const auto& child : children) {
    EXPECT_EQ(child->Bounds().Top, top) << child->Name();
    top += child->Bounds().Height;
  }
  EXPECT_GT(window->sbParams->ContentHeight(), window->sbParams->Bounds().Height);
  EXPECT_EQ(children[0]->Bounds().Width, 221 - ui::kScrollBarWidth);
  window->sbParams->ScrollTo(1000);
  EXPECT_EQ(window->sbParams->ScrollOffset(), window->sbParams->ContentHeight() - window->sbParams->Bounds().Height);
  EXPECT_EQ(children[0]->Bounds().Top, -window->sbParams->ScrollOffset());
}

}  // namespace
}  // namespace volok
