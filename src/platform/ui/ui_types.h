// Plain values shared by the toolkit's controls and its implementations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace volok::platform::ui {

// 0x00BBGGRR, the layout of a Win32 COLORREF.
using TColor = std::uint32_t;
constexpr TColor Rgb(unsigned r, unsigned g, unsigned b) { return r | (g << 8) | (b << 16); }
constexpr TColor kWhite = Rgb(255, 255, 255);
constexpr TColor kBlack = Rgb(0, 0, 0);

// Docking: the control spans that edge of its container and the controls
// that follow share the rest; Fill takes what is left; None keeps Bounds.
enum class TDock { None, Top, Bottom, Left, Right, Fill };

struct TRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool operator==(const TRect&) const = default;
};

// Height in pixels of a character cell (negative LOGFONT height on Windows).
struct TFont {
  std::string Face = "Tahoma";
  int Height = 11;
  bool Cyrillic = false;  // ask for the Cyrillic character set explicitly
  // When Face is missing, ask for any fixed-pitch font rather than let the
  // system pick a proportional one.
  bool FixedPitch = false;
  bool operator==(const TFont&) const = default;
};

// Keys the form handles itself: focus moves, the default and cancel
// buttons, and the keys that press or choose the focused control.
enum class TKey { Tab, Enter, Escape, Space, Left, Up, Right, Down };

// Layout sizes are pixels at 96 DPI; a native window scales them to its own.
inline constexpr int kDesignDpi = 96;
inline int ScaleToDpi(int value, int dpi) {
  // Rounded half away from zero, so a value and its negation scale alike.
  long long scaled = static_cast<long long>(value) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + kDesignDpi / 2) / kDesignDpi : -((-scaled + kDesignDpi / 2) / kDesignDpi));
}

// Message box buttons, icons and answers: the Win32 values.
inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbYesNo = 0x4;
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr unsigned kMbIconQuestion = 0x20;
inline constexpr unsigned kMbIconWarning = 0x30;
inline constexpr unsigned kMbIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// A picture drawn in code: shapes in a design box of Width x Height units,
// scaled to the control that shows it, painted in order.
struct TPoint {
  float X = 0;
  float Y = 0;
};

enum class TShapeKind { Polygon, Ellipse, Polyline, Arc };

struct TShape {
  TShapeKind Kind = TShapeKind::Polygon;
  std::vector<TPoint> Points;  // Ellipse and Arc: the bounding box (2 points); Arc: then start and end
  TColor Fill = 0;
  bool Filled = true;
  TColor Pen = 0;
  float PenWidth = 0;  // 0: no outline
};

struct TDrawing {
  float Width = 32;
  float Height = 32;
  std::vector<TShape> Shapes;
  bool Empty() const { return Shapes.empty(); }
};

}  // namespace volok::platform::ui
