// Painting in code: pictures from their shapes, flat buttons, and the
// windowless labels and pictures of a container.
#include <windows.h>

#include <cmath>

#include "platform/ui/win32/dpi.h"
#include "platform/ui/win32/gdi.h"
#include "platform/win32/wide.h"

namespace volok::platform::ui::win32 {

namespace {

using platform::win32::Widen;

// Pictures are drawn this many times larger and scaled down with
// halftoning: GDI itself draws no smooth edges.
constexpr int kOversample = 4;

struct TScale {
  float X, Y;
  POINT operator()(const TPoint& point) const {
    return {static_cast<LONG>(std::lround(point.X * X)), static_cast<LONG>(std::lround(point.Y * Y))};
  }
};

ScopedGdi<HPEN> PenFor(const TShape& shape, float scale) {
  if (shape.PenWidth <= 0) return ScopedGdi<HPEN>(static_cast<HPEN>(nullptr));
  LOGBRUSH brush{BS_SOLID, shape.Pen, 0};
  DWORD style = PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND;
  return ScopedGdi<HPEN>(ExtCreatePen(style, std::max(1L, std::lround(shape.PenWidth * scale)), &brush, 0, nullptr));
}

void DrawShape(HDC dc, const TShape& shape, const TScale& scale) {
  ScopedGdi<HPEN> pen = PenFor(shape, (scale.X + scale.Y) / 2);
  ScopedGdi<HBRUSH> brush(shape.Filled ? CreateSolidBrush(shape.Fill) : nullptr);
  ScopedSelect use_pen(dc, pen.get() ? static_cast<HGDIOBJ>(pen.get()) : GetStockObject(NULL_PEN));
  ScopedSelect use_brush(dc, brush.get() ? static_cast<HGDIOBJ>(brush.get()) : GetStockObject(NULL_BRUSH));
  std::vector<POINT> points;
  for (const TPoint& point : shape.Points) points.push_back(scale(point));
  switch (shape.Kind) {
    case TShapeKind::Polygon: Polygon(dc, points.data(), static_cast<int>(points.size())); break;
    case TShapeKind::Polyline: Polyline(dc, points.data(), static_cast<int>(points.size())); break;
    case TShapeKind::Ellipse:
      if (points.size() >= 2) Ellipse(dc, points[0].x, points[0].y, points[1].x, points[1].y);
      break;
    case TShapeKind::Arc:
      if (points.size() >= 4)
        Arc(dc, points[0].x, points[0].y, points[1].x, points[1].y, points[2].x, points[2].y, points[3].x, points[3].y);
      break;
  }
}

int CALLBACK NoteFaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FaceInstalled(const std::wstring& face) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(wanted.lfFaceName, face.c_str(), LF_FACESIZE);
  bool found = false;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExW(screen, &wanted, NoteFaceFound, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

}  // namespace

HFONT FontFor(const TFont& font, int dpi) {
  static std::map<std::tuple<std::string, int, bool, bool>, ScopedGdi<HFONT>> fonts;
  int height = ScaleToDpi(font.Height, dpi);
  auto key = std::make_tuple(font.Face, height, font.Cyrillic, font.FixedPitch);
  auto found = fonts.find(key);
  if (found != fonts.end()) return found->second.get();
  std::wstring face = Widen(font.Face);
  DWORD pitch = DEFAULT_PITCH | FF_DONTCARE;
  // Without the face, GDI would map the name to any font, often a
  // proportional one: a log's columns need the fixed pitch more than the face.
  if (font.FixedPitch && !FaceInstalled(face)) face.clear(), pitch = FIXED_PITCH | FF_MODERN;
  HFONT handle = CreateFontW(-height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             font.Cyrillic ? RUSSIAN_CHARSET : DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, pitch, face.c_str());
  return fonts.emplace(key, ScopedGdi<HFONT>(handle)).first->second.get();
}

std::wstring FaceOf(HFONT font) {
  wchar_t face[LF_FACESIZE] = L"";
  HDC screen = GetDC(nullptr);
  {
    ScopedSelect use_font(screen, font);
    GetTextFaceW(screen, LF_FACESIZE, face);
  }
  ReleaseDC(nullptr, screen);
  return face;
}

HBRUSH BrushFor(TColor color) {
  static std::map<TColor, ScopedGdi<HBRUSH>> brushes;
  auto found = brushes.find(color);
  if (found != brushes.end()) return found->second.get();
  return brushes.emplace(color, ScopedGdi<HBRUSH>(CreateSolidBrush(color))).first->second.get();
}

void DrawPicture(HDC dc, const TDrawing& picture, const RECT& rect, TColor background) {
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0 || picture.Empty()) return;
  HDC memory = CreateCompatibleDC(dc);
  if (!memory) return;
  {
    ScopedGdi<HBITMAP> bitmap(CreateCompatibleBitmap(dc, width * kOversample, height * kOversample));
    ScopedSelect use_bitmap(memory, bitmap.get());
    RECT big{0, 0, width * kOversample, height * kOversample};
    FillRect(memory, &big, BrushFor(background));
    TScale scale{width * kOversample / picture.Width, height * kOversample / picture.Height};
    for (const TShape& shape : picture.Shapes) DrawShape(memory, shape, scale);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, rect.left, rect.top, width, height, memory, 0, 0, big.right, big.bottom, SRCCOPY);
  }
  DeleteDC(memory);
}

void DrawFlatButton(const DRAWITEMSTRUCT& item, const TButton& button) {
  HDC dc = item.hDC;
  RECT rect = item.rcItem;
  int dpi = ControlDpi(button);
  bool pressed = (item.itemState & ODS_SELECTED) != 0;
  bool enabled = button.Enabled();
  TColor face = button.Color();
  if (pressed) face = Rgb(210, 218, 230);
  FillRect(dc, &rect, BrushFor(face));
  FrameRect(dc, &rect, BrushFor(pressed ? Rgb(120, 140, 170) : Rgb(200, 200, 200)));
  // The focus mark, unless Windows hides focus cues until a key is used.
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
    int inset = ScaleToDpi(2, dpi);
    RECT focus{rect.left + inset, rect.top + inset, rect.right - inset, rect.bottom - inset};
    SetTextColor(dc, kBlack);
    SetBkColor(dc, face);
    DrawFocusRect(dc, &focus);
  }
  int left = rect.left + ScaleToDpi(4, dpi);
  if (!button.Picture().Empty()) {
    int size = ScaleToDpi(button.PictureSize(), dpi);
    int top = rect.top + (rect.bottom - rect.top - size) / 2;
    RECT picture{left, top, left + size, top + size};
    DrawPicture(dc, button.Picture(), picture, face);
    left += size + ScaleToDpi(8, dpi);
  }
  ScopedSelect font(dc, FontFor(button.Font(), dpi));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, enabled ? button.FontColor() : GetSysColor(COLOR_GRAYTEXT));
  RECT text{left, rect.top, rect.right - ScaleToDpi(2, dpi), rect.bottom};
  UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | (button.Picture().Empty() ? DT_CENTER : DT_LEFT);
  if (button.Picture().Empty()) text.left = rect.left;
  std::wstring caption = Widen(button.Text());
  DrawTextW(dc, caption.c_str(), -1, &text, format);
}

void PaintWindowless(HDC dc, const TContainer& container) {
  int dpi = ControlDpi(container);
  // Pictures first, so text that runs over a picture stays readable.
  for (const auto& child : container.Children()) {
    if (child->Kind() != TKind::Image || !child->Visible()) continue;
    RECT rect = ScaledRect(child->Bounds(), dpi);
    DrawPicture(dc, static_cast<const TImage&>(*child).Picture(), rect, container.Color());
  }
  SetBkMode(dc, TRANSPARENT);
  for (const auto& child : container.Children()) {
    if (child->Kind() != TKind::Label || !child->Visible() || child->Text().empty()) continue;
    RECT rect = ScaledRect(child->Bounds(), dpi);
    ScopedSelect font(dc, FontFor(child->Font(), dpi));
    SetTextColor(dc, child->FontColor());
    std::wstring text = Widen(child->Text());
    DrawTextW(dc, text.c_str(), -1, &rect, DT_WORDBREAK | DT_NOPREFIX);
  }
}

}  // namespace volok::platform::ui::win32
