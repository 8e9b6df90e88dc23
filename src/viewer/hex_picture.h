#pragma once

// The sector viewer's pictures and marks.

#include <string>
#include <vector>

#include "display/canvas.h"
#include "viewer/hex_view.h"

namespace kestra::viewer {

// A rectangle in a pane's pixels, both corners included.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Where a control sits in the viewer window, in pixels (the layout's twips / 15).
struct Place {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};
inline constexpr Place kLblDir{28, 2, 57, 18};
inline constexpr Place kTxtDir{91, 2, 65, 19};
inline constexpr Place kLblSector{348, 2, 53, 18};
inline constexpr Place kTxtBlock{408, 2, 65, 19};
inline constexpr Place kPicOffset{8, 24, 30, 297};
inline constexpr Place kPicData{40, 24, 337, 297};
inline constexpr Place kPicText{384, 24, 121, 297};
inline constexpr int kWindowWidth = 513;
inline constexpr int kWindowHeight = 329;

// The rectangles one mark covers: outlines round each byte's two hex digits
// (Pane::Data), or filled character cells (Pane::Text): one box when the bytes
// share a line, else one cell per byte.
std::vector<PixelRect> MarkRects(const Mark& mark);

// Clears the three panes and prints the sector's lines in its text colour.
void PrintPanes(const HexView& view, display::Canvas& offset, display::Canvas& data,
                display::Canvas& text);
// Draws marks with the exclusive-or pen (Xor_DataCh, Xor_TextCh): a mark
// drawn twice leaves the pixels as they were, and so does colour 0.
void XorMarks(const std::vector<Mark>& marks, display::Canvas& data, display::Canvas& text);

// The window's client area as the viewer shows it: labels, boxes and the
// three panes with their marks.
display::Canvas HexPicture(const HexView& view);

// The sector for a terminal: offset, hex and text columns. With colour, in the
// sector's text colour, a frame as the colour of the hex digits and a fill as
// the background of the characters.
std::string HexText(const HexView& view, bool colour);

}  // namespace kestra::viewer
