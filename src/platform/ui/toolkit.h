// The window system behind the controls: showing a form, its message loop,
// modal message boxes, the folder dialog and text measurement. Windows links
// the Win32 toolkit; POSIX has no native window, so its built-in toolkit is
// the headless one (HasWindow() false), which tests also install directly.
#pragma once

#include <string>

#include "platform/default_slot.h"
#include "platform/ui/controls.h"

namespace volok::platform::ui {

class TToolkit {
 public:
  virtual ~TToolkit() = default;

  static TToolkit& Default() { return DefaultSlot<TToolkit>::Get(); }
  static TToolkit& BuiltIn();

  // A real window appears on screen.
  virtual bool HasWindow() const = 0;
  // Creates the native controls of the whole tree and shows the form,
  // centred on the screen.
  virtual void Show(TForm& form) = 0;
  // Runs the message loop until the form is closed; destroys its window.
  virtual void Run(TForm& form) = 0;
  // Any thread: makes the main thread run the form's OnWake soon.
  virtual void Wake(TForm& form) = 0;
  // A modal message box; answers kIdOk, kIdYes or kIdNo.
  virtual int ShowMessageBox(TForm* owner, const std::string& text, const std::string& caption, unsigned flags) = 0;
  // The system's folder dialog opened at `path`; on confirmation of a
  // file-system folder stores its full path in `path` and answers true.
  virtual bool BrowseForFolder(TForm* owner, const std::string& title, std::string& path) = 0;
  // The height of `text` in `font`, wrapped at `width` pixels, all in 96-DPI
  // pixels, measured as a window at `dpi` shows it (its font scaled).
  virtual int TextHeight(const TFont& font, const std::string& text, int width, int dpi) = 0;
};

}  // namespace volok::platform::ui
