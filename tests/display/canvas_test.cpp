#include "display/canvas.h"

#include <gtest/gtest.h>
#include <png.h>

#include <numbers>

#include "display/png_output.h"

namespace kestra::display {
namespace {

int CountPixels(const Canvas& c, Rgb colour) {
    int n = 0;
    for (Rgb p : c.Pixels())
        n += (p == colour);
    return n;
}

TEST(CanvasDrawing, BoxesIncludeBothCornersAndClipAtTheEdges) {
    Canvas c(10, 10);
    c.FillBox(2, 2, 4, 3, kBlack);
    EXPECT_EQ(CountPixels(c, kBlack), 3 * 2);
    c.Clear();
    c.Box(0, 0, 3, 3, kBlack);
    EXPECT_EQ(CountPixels(c, kBlack), 12);  // outline of a 4 x 4 box
    // Far outside and across the edges: clipped, never written out of bounds.
    c.FillBox(-50, -50, 500, 500, PaletteColor(9));
    EXPECT_EQ(CountPixels(c, PaletteColor(9)), 100);
    c.Line(-20, 5, 30, 5, kBlack);
    EXPECT_EQ(c.Pixel(0, 5), kBlack);
    EXPECT_EQ(c.Pixel(9, 5), kBlack);
}

TEST(CanvasDrawing, XorPenTwiceRestoresThePicture) {
    Canvas c(20, 20);
    c.FillBox(0, 0, 9, 19, PaletteColor(12));
    std::vector<Rgb> before = c.Pixels();
    c.PenMode = DrawMode::XorPen;
    c.Line(0, 10, 19, 10, PaletteColor(9));
    EXPECT_EQ(c.Pixel(3, 10), (Rgb{255, 0, 255}));
    c.Line(0, 10, 19, 10, PaletteColor(9));
    c.Circle(10, 10, 6);
    c.Circle(10, 10, 6);
    EXPECT_EQ(c.Pixels(), before);
}

TEST(CanvasDrawing, PieSliceFillsOnlyItsSweep) {
    Canvas c(101, 101);
    c.FillMode = FillStyle::Solid;
    c.FillColor = PaletteColor(9);
    // A quarter from three o'clock to twelve o'clock: the upper right.
    c.PieSlice(50, 50, 40, 0, std::numbers::pi / 2);
    EXPECT_EQ(c.Pixel(70, 30), PaletteColor(9));
    EXPECT_EQ(c.Pixel(30, 30), kWhite);
    EXPECT_EQ(c.Pixel(70, 70), kWhite);
    EXPECT_EQ(c.Pixel(30, 70), kWhite);
    // A sweep over half a turn covers three quarters.
    c.Clear();
    c.PieSlice(50, 50, 40, 0, 3 * std::numbers::pi / 2);
    EXPECT_EQ(c.Pixel(30, 30), PaletteColor(9));
    EXPECT_EQ(c.Pixel(30, 70), PaletteColor(9));
    EXPECT_EQ(c.Pixel(70, 70), kWhite);
}

TEST(CanvasText, PrintAdvancesByTheTextWidthAndKeepsTheRow) {
    Canvas c(200, 20);
    c.CurrentX = 5;
    c.CurrentY = 2;
    c.Print("Mil");
    EXPECT_EQ(c.CurrentX, 5 + c.TextWidth("Mil"));
    EXPECT_EQ(c.CurrentY, 2);
    EXPECT_LT(c.TextWidth("il"), c.TextWidth("MW"));  // proportional
    EXPECT_GT(CountPixels(c, kBlack), 10);
    c.Font = FontFace::Fixed;
    EXPECT_EQ(c.TextWidth("il"), c.TextWidth("MW"));
    // Bytes outside the printable range draw as a glyph, not out of a table.
    c.Print(std::string("\x01\xff", 2));
    // A UTF-8 character beyond ASCII is one cell, whatever its length in bytes.
    EXPECT_EQ(c.TextWidth("DÉJÀ €"), c.TextWidth("D?J? ?"));
    c.PrintLine("");
    EXPECT_EQ(c.CurrentX, 0);
    EXPECT_EQ(c.CurrentY, 2 + c.TextHeight());
}

TEST(CanvasPng, EncodesTheSameBytesEveryTimeAndDecodesToThePixels) {
    Canvas c(7, 3);
    c.SetPixel(0, 0, PaletteColor(12));
    c.SetPixel(6, 2, PaletteColor(3));
    std::vector<uint8_t> a = EncodePng(c);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, EncodePng(c));

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, a.data(), a.size()));
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    EXPECT_EQ(image.width, 7u);
    EXPECT_EQ(image.height, 3u);
    EXPECT_EQ(rgb[0], 255);
    EXPECT_EQ(rgb[1], 0);
    size_t last = (2 * 7 + 6) * 3;
    EXPECT_EQ(rgb[last + 1], 128);
    EXPECT_EQ(rgb[last + 2], 128);

    EXPECT_TRUE(EncodePng(Canvas()).empty());
    std::string error;
    EXPECT_FALSE(SavePng(c, "/nonexistent-dir/x.png", &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace kestra::display
