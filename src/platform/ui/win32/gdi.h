// Owners of GDI objects and the toolkit's shared drawing state. Include only
// from platform/ui/win32/*.cpp, after <windows.h>.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <utility>

#include "platform/ui/controls.h"

namespace volok::platform::ui::win32 {

// A GDI object deleted with DeleteObject.
template <class T>
class ScopedGdi final {
 public:
  ScopedGdi() = default;
  explicit ScopedGdi(T object) : FObject(object) {}
  ~ScopedGdi() {
    if (FObject) DeleteObject(FObject);
  }
  ScopedGdi(ScopedGdi&& other) noexcept : FObject(std::exchange(other.FObject, nullptr)) {}
  ScopedGdi& operator=(ScopedGdi&& other) noexcept {
    std::swap(FObject, other.FObject);
    return *this;
  }
  ScopedGdi(const ScopedGdi&) = delete;
  ScopedGdi& operator=(const ScopedGdi&) = delete;
  T get() const { return FObject; }

 private:
  T FObject = nullptr;
};

// Selects an object into a DC for a scope.
class ScopedSelect final {
 public:
  ScopedSelect(HDC dc, HGDIOBJ object) : FDc(dc), FOld(SelectObject(dc, object)) {}
  ~ScopedSelect() { SelectObject(FDc, FOld); }
  ScopedSelect(const ScopedSelect&) = delete;
  ScopedSelect& operator=(const ScopedSelect&) = delete;

 private:
  HDC FDc;
  HGDIOBJ FOld;
};

// Fonts (per size in device pixels, so per DPI) and brushes made once per
// process and kept until it ends. A fixed-pitch font whose face is not
// installed becomes the system's choice among the fixed-pitch fonts.
HFONT FontFor(const TFont& font, int dpi);
// The face the system actually uses for a font handle.
std::wstring FaceOf(HFONT font);
HBRUSH BrushFor(TColor color);

// Paints a picture into `rect` over a background of `background`.
void DrawPicture(HDC dc, const TDrawing& picture, const RECT& rect, TColor background);
// Paints a flat button (owner-drawn) into its item rectangle.
void DrawFlatButton(const DRAWITEMSTRUCT& item, const TButton& button);
// Paints the windowless children (pictures, then labels) of a container.
void PaintWindowless(HDC dc, const TContainer& container);

}  // namespace volok::platform::ui::win32
