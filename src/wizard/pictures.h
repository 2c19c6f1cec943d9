// The window's pictures, the project's own, drawn in code as shapes.
#pragma once

#include "platform/ui/ui_types.h"

namespace volok {

namespace ui = platform::ui;

// Button pictures, 32 x 32, on the button bar's grey.
ui::TDrawing BlueGearPicture();
ui::TDrawing RunningFigurePicture();
ui::TDrawing PowerSymbolPicture();
// The brand banner, 150 x 250, beside the pages.
ui::TDrawing BannerPicture();
// Page pictures, 128 x 128, on white.
ui::TDrawing GreyGearPicture();
ui::TDrawing WasteBinPicture();
ui::TDrawing FolderArrowPicture();

}  // namespace volok
