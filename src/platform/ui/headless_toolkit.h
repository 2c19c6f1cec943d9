// A toolkit without a screen: forms exist only as their control objects,
// message boxes answer from a script and are recorded, the folder dialog
// answers what a test set, text is measured by a fixed rule. Tests drive the
// controls directly (Click, SetText, SetItemIndex) and serve the main-thread
// queue themselves.
#pragma once

#include <atomic>
#include <deque>
#include <string>
#include <vector>

#include "platform/ui/toolkit.h"

namespace volok::platform::ui {

class THeadlessToolkit final : public TToolkit {
 public:
  struct TShownBox {
    std::string Text;
    std::string Caption;
    unsigned Flags = 0;
  };

  bool HasWindow() const override { return false; }
  void Show(TForm& form) override;
  // Serves wakes until the form is closed.
  void Run(TForm& form) override;
  void Wake(TForm& form) override { FWoken = true; }
  int ShowMessageBox(TForm* owner, const std::string& text, const std::string& caption, unsigned flags) override;
  bool BrowseForFolder(TForm* owner, const std::string& title, std::string& path) override;
  int TextHeight(const TFont& font, const std::string& text, int width, int dpi) override;

  // Answers for the next message boxes, in order; kIdOk/kIdNo when empty
  // (a Yes/No box with no scripted answer is answered No).
  void QueueAnswer(int answer) { FAnswers.push_back(answer); }
  // Called while a box is "open" (a test may inspect the form then).
  std::function<void(const TShownBox&)> OnMessageBox;
  const std::vector<TShownBox>& ShownBoxes() const { return FShown; }
  // The folder the dialog "confirms"; empty: the dialog is cancelled.
  std::string FolderAnswer;
  std::string LastFolderTitle, LastFolderStart;
  bool Woken() const { return FWoken; }

 private:
  std::deque<int> FAnswers;
  std::vector<TShownBox> FShown;
  std::atomic<bool> FWoken{false};
};

}  // namespace volok::platform::ui
