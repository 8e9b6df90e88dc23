#pragma once

// The tags of the run window's two status lines.

#include <string>
#include <string_view>

#include "display/canvas.h"
#include "display/paint_gate.h"

namespace kestra::display {

// The two run-window status lines: y of each line in pixels.
inline constexpr int kStatusLine1 = 10;
inline constexpr int kStatusLine2 = 22;

// The last tag shown on each status line, for repaints.
struct StatusTags {
    std::string TagText1;
    int TagColor1 = 0;
    std::string TagText2;
    int TagColor2 = 0;
};

// The palette colour a tag of `colour` is drawn on, for contrast.
int TagBackground(int colour);

// A coloured tag at the left of a status line on the run window's surface.
void ShowTag(Canvas& form, StatusTags& tags, int y, std::string_view text, int colour);

// The run window's paint: both tags again while the run is going.
void PaintTags(Canvas& form, StatusTags& tags, PaintGate gate, bool RunDone);

}  // namespace kestra::display
