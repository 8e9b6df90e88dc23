#pragma once

// An in-memory picture and its drawing state.

#include <cmath>
#include <string_view>
#include <vector>

#include "display/bitmap_font.h"
#include "display/palette.h"

namespace kestra::display {

enum class FillStyle { Solid, Transparent };
enum class DrawMode { CopyPen, XorPen };

// Whole pixels from a computed value: halves go to the even neighbour, the
// way the layouts' integer conversions round.
inline int RoundPixel(double value) {
    double whole = std::floor(value);
    double frac = value - whole;
    if (frac > 0.5 || (frac == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
    return static_cast<int>(whole);
}

// An in-memory RGB picture with the drawing state of a picture area: colours,
// fill style, pen mode and a current print position. Everything outside the
// picture is clipped. Coordinates are pixels, y grows downward.
class Canvas {
  public:
    Canvas() = default;
    Canvas(int width, int height, Rgb back = kWhite);

    int Width() const { return width_; }
    int Height() const { return height_; }
    const std::vector<Rgb>& Pixels() const { return pixels_; }
    void Resize(int width, int height);

    // Drawing state.
    Rgb BackColor = kWhite;
    Rgb ForeColor = kBlack;
    Rgb FillColor = kBlack;
    FillStyle FillMode = FillStyle::Transparent;
    bool FontTransparent = true;  // text leaves the paper behind it alone
    DrawMode PenMode = DrawMode::CopyPen;
    FontFace Font = FontFace::Small;
    int CurrentX = 0;
    int CurrentY = 0;

    // Fills the picture with BackColor and puts the print position at 0,0.
    void Clear();

    Rgb Pixel(int x, int y) const;
    // Plots one pixel in the pen mode.
    void SetPixel(int x, int y, Rgb color);

    // Both end points are drawn; the print position moves to (x2, y2).
    void Line(int x1, int y1, int x2, int y2, Rgb color);
    // Outline and solid box between two corners, both corners included.
    void Box(int x1, int y1, int x2, int y2, Rgb color);
    void FillBox(int x1, int y1, int x2, int y2, Rgb color);
    // Circle of radius r: edge in ForeColor, inside in FillColor when the
    // fill is solid.
    void Circle(int cx, int cy, int r);
    // Slice from angle a0 to a1 (radians, counter-clockwise from three
    // o'clock): inside in FillColor when solid, arc and both radii in ForeColor.
    void PieSlice(int cx, int cy, int r, double a0, double a1);

    int TextWidth(std::string_view text) const { return FontTextWidth(Font, text); }
    int TextHeight(std::string_view = "x") const { return kFontHeight; }
    // Prints at the print position in ForeColor and leaves it just after the text.
    void Print(std::string_view text);
    // Prints and goes to the start of the next line.
    void PrintLine(std::string_view text);

    // Plain copy of a w x h block; parts outside either picture are skipped.
    static void BlockCopy(Canvas& dst, int dx, int dy, int w, int h, const Canvas& src, int sx,
                          int sy);

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<Rgb> pixels_;
};

}  // namespace kestra::display
