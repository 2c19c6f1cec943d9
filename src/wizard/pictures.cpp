#include "wizard/pictures.h"

#include <cmath>

namespace volok {

namespace {

using ui::Rgb;
using ui::TColor;
using ui::TDrawing;
using ui::TShape;
using ui::TShapeKind;

constexpr TColor kBarGrey = Rgb(238, 238, 238);
constexpr float kPi = 3.14159265f;

TShape Polygon(std::vector<ui::TPoint> points, TColor fill, TColor pen = 0, float pen_width = 0) {
  return {TShapeKind::Polygon, std::move(points), fill, true, pen, pen_width};
}

TShape Ellipse(float x1, float y1, float x2, float y2, TColor fill, TColor pen = 0, float pen_width = 0) {
  return {TShapeKind::Ellipse, {{x1, y1}, {x2, y2}}, fill, true, pen, pen_width};
}

TShape Line(std::vector<ui::TPoint> points, TColor pen, float width) {
  return {TShapeKind::Polyline, std::move(points), 0, false, pen, width};
}

// A gear of `teeth` teeth around (cx, cy) with a hole of the background.
void AddGear(TDrawing& drawing, float cx, float cy, float outer, float inner, int teeth, TColor color,
             TColor edge, TColor hole) {
  std::vector<ui::TPoint> points;
  for (int i = 0; i < teeth * 4; ++i) {
    float angle = 2 * kPi * i / (teeth * 4) - kPi / (teeth * 4);
    float radius = (i % 4 == 1 || i % 4 == 2) ? outer : inner;
    points.push_back({cx + radius * std::cos(angle), cy + radius * std::sin(angle)});
  }
  drawing.Shapes.push_back(Polygon(points, color, edge, outer / 16));
  float body = inner * 0.82f, bore = inner * 0.38f;
  drawing.Shapes.push_back(Ellipse(cx - body, cy - body, cx + body, cy + body, color, edge, outer / 20));
  drawing.Shapes.push_back(Ellipse(cx - bore, cy - bore, cx + bore, cy + bore, hole, edge, outer / 16));
}

}  // namespace

ui::TDrawing BlueGearPicture() {
  TDrawing drawing;
  AddGear(drawing, 16, 16, 14.5f, 10.5f, 8, Rgb(52, 120, 214), Rgb(20, 60, 140), kBarGrey);
  return drawing;
}

ui::TDrawing RunningFigurePicture() {
  TDrawing drawing;
  TColor green = Rgb(30, 150, 50);
  drawing.Shapes.push_back(Ellipse(17, 2, 24, 9, green));
  drawing.Shapes.push_back(Line({{19, 11}, {14, 20}}, green, 4.5f));        // body
  drawing.Shapes.push_back(Line({{8, 13}, {13, 11}, {19, 11}, {24, 16}, {28, 14}}, green, 3));  // arms
  drawing.Shapes.push_back(Line({{14, 20}, {20, 24}, {18, 30}}, green, 3.2f));  // front leg
  drawing.Shapes.push_back(Line({{14, 20}, {10, 26}, {4, 26}}, green, 3.2f));   // back leg
  return drawing;
}

ui::TDrawing PowerSymbolPicture() {
  TDrawing drawing;
  TColor blue = Rgb(40, 90, 200);
  drawing.Shapes.push_back({TShapeKind::Arc, {{5, 6}, {27, 28}, {11, 6}, {21, 6}}, 0, false, blue, 3.5f});
  drawing.Shapes.push_back(Line({{16, 3}, {16, 16}}, blue, 3.5f));
  return drawing;
}

ui::TDrawing BannerPicture() {
  TDrawing drawing;
  drawing.Width = 150;
  drawing.Height = 250;
  TColor deep = Rgb(24, 64, 140), mid = Rgb(44, 104, 196), light = Rgb(120, 170, 235);
  drawing.Shapes.push_back(Polygon({{0, 0}, {150, 0}, {150, 250}, {0, 250}}, deep));
  drawing.Shapes.push_back(Polygon({{0, 150}, {150, 90}, {150, 250}, {0, 250}}, mid));
  drawing.Shapes.push_back(Polygon({{0, 215}, {150, 170}, {150, 250}, {0, 250}}, light));
  // A package: an open box with its lid flaps, seen from above the corner.
  TColor top = Rgb(250, 214, 120), left = Rgb(222, 170, 70), right = Rgb(196, 140, 50), edge = Rgb(120, 80, 20);
  drawing.Shapes.push_back(Polygon({{75, 70}, {115, 88}, {75, 106}, {35, 88}}, top, edge, 1.5f));
  drawing.Shapes.push_back(Polygon({{35, 88}, {75, 106}, {75, 152}, {35, 134}}, left, edge, 1.5f));
  drawing.Shapes.push_back(Polygon({{75, 106}, {115, 88}, {115, 134}, {75, 152}}, right, edge, 1.5f));
  drawing.Shapes.push_back(Polygon({{35, 88}, {20, 68}, {60, 50}, {75, 70}}, left, edge, 1.5f));
  drawing.Shapes.push_back(Polygon({{115, 88}, {130, 68}, {90, 50}, {75, 70}}, right, edge, 1.5f));
  // A down arrow into the box.
  drawing.Shapes.push_back(Polygon({{68, 18}, {82, 18}, {82, 46}, {92, 46}, {75, 66}, {58, 46}, {68, 46}},
                                   Rgb(70, 200, 90), Rgb(20, 110, 40), 1.5f));
  return drawing;
}

ui::TDrawing GreyGearPicture() {
  TDrawing drawing;
  drawing.Width = drawing.Height = 128;
  AddGear(drawing, 64, 64, 58, 44, 10, Rgb(176, 176, 176), Rgb(120, 120, 120), ui::kWhite);
  return drawing;
}

ui::TDrawing WasteBinPicture() {
  TDrawing drawing;
  drawing.Width = drawing.Height = 128;
  TColor body = Rgb(170, 178, 188), edge = Rgb(90, 96, 104);
  drawing.Shapes.push_back(Polygon({{52, 10}, {76, 10}, {76, 20}, {52, 20}}, body, edge, 3));   // handle
  drawing.Shapes.push_back(Polygon({{20, 20}, {108, 20}, {108, 32}, {20, 32}}, body, edge, 3));  // lid
  drawing.Shapes.push_back(Polygon({{28, 36}, {100, 36}, {92, 120}, {36, 120}}, body, edge, 3));
  for (float x : {46.f, 64.f, 82.f}) drawing.Shapes.push_back(Line({{x, 46}, {x + (64 - x) * 0.12f, 110}}, edge, 4));
  return drawing;
}

ui::TDrawing FolderArrowPicture() {
  TDrawing drawing;
  drawing.Width = drawing.Height = 128;
  TColor back = Rgb(230, 180, 60), front = Rgb(250, 206, 90), edge = Rgb(150, 110, 30);
  drawing.Shapes.push_back(Polygon({{8, 30}, {46, 30}, {54, 40}, {120, 40}, {120, 116}, {8, 116}}, back, edge, 3));
  drawing.Shapes.push_back(Polygon({{8, 56}, {120, 56}, {120, 116}, {8, 116}}, front, edge, 3));
  drawing.Shapes.push_back(Polygon({{54, 8}, {74, 8}, {74, 60}, {92, 60}, {64, 94}, {36, 60}, {54, 60}},
                                   Rgb(60, 190, 80), Rgb(20, 110, 40), 3));
  return drawing;
}

}  // namespace volok
