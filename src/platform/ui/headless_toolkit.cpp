#include "platform/ui/headless_toolkit.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/ui/layout.h"

namespace volok::platform::ui {

namespace {

// Code points, so Cyrillic text measures like Latin text.
int CodePoints(const std::string& text) {
  int count = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++count;
  return count;
}

}  // namespace

void THeadlessToolkit::Show(TForm& form) { form.Layout(); }

void THeadlessToolkit::Run(TForm& form) {
  while (!form.Closed()) {
    if (FWoken.exchange(false) && form.OnWake) form.OnWake();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

int THeadlessToolkit::ShowMessageBox(TForm* owner, const std::string& text, const std::string& caption, unsigned flags) {
  FShown.push_back({text, caption, flags});
  if (OnMessageBox) OnMessageBox(FShown.back());
  if (!FAnswers.empty()) {
    int answer = FAnswers.front();
    FAnswers.pop_front();
    return answer;
  }
  return (flags & 0xF) == kMbYesNo ? kIdNo : kIdOk;
}

bool THeadlessToolkit::BrowseForFolder(TForm* owner, const std::string& title, std::string& path) {
  LastFolderTitle = title;
  LastFolderStart = path;
  if (FolderAnswer.empty()) return false;
  path = FolderAnswer;
  return true;
}

// A fixed rule: characters are 6/11 of the font height wide, lines are the
// font height plus 2, words wrap whole where they can.
int THeadlessToolkit::TextHeight(const TFont& font, const std::string& text, int width, int /*dpi*/) {
  int char_width = std::max(1, font.Height * 6 / 11);
  int per_line = std::max(1, width / char_width);
  int lines = 1, used = 0;
  std::string word;
  auto place = [&](int length) {
    if (used > 0 && used + length > per_line) ++lines, used = 0;
    used += length;
  };
  for (size_t i = 0, start = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] == '\n') {
      place(CodePoints(text.substr(start, i - start)));
      ++lines, used = 0, start = i + 1;
    } else if (i == text.size() || text[i] == ' ') {
      place(CodePoints(text.substr(start, i - start)) + 1);
      start = i + 1;
    }
  }
  return lines * (font.Height + 2);
}

}  // namespace volok::platform::ui
