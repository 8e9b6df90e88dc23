// The main window on a scaled screen (QT_SCALE_FACTOR, 2 unless the test
// sets another): text, charts and map stay sharp, drawn at device pixels.
#include <gtest/gtest.h>

#include <QListWidget>

#include <cmath>
#include <set>

#include "window_fixture.h"

namespace kestra::testing {
namespace {

std::string Scale() {
    return qEnvironmentVariable("QT_SCALE_FACTOR").toStdString();
}

// Only palette colours in a picture of the window: nothing was smoothed.
size_t ColoursOffThePalette(const QImage& image, const QRect& area) {
    std::set<QRgb> palette;
    for (const display::Rgb c : display::kPalette)
        palette.insert(qRgb(c.r, c.g, c.b));
    size_t off = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            off += palette.count(image.pixel(x, y) | 0xff000000u) == 0;
    return off;
}

TEST(ScaledWindowTest, TextChartsAndMapAreDrawnAtDevicePixels) {
    TempDir dir;
    Desk d(Desk::Floppy(dir));
    const double dpr = d.window->devicePixelRatioF();
    EXPECT_DOUBLE_EQ(dpr, std::stod(Scale()));
    d.window->Action("Scan_")->trigger();
    d.window->Sync(true);
    QCoreApplication::processEvents();
    SaveScreenshot(d.window.get(), "main-scale-" + Scale() + ".png");

    QWidget* map = d.window->Widget("picMap");
    QWidget* surface = map->parentWidget();
    const QImage shot = surface->grab().toImage();
    EXPECT_EQ(shot.width(), static_cast<int>(std::ceil(surface->width() * dpr - 0.01)));
    // The text area (top left) and the map hold palette colours only.
    EXPECT_EQ(ColoursOffThePalette(
                  shot, QRect(0, 0, static_cast<int>(200 * dpr), static_cast<int>(60 * dpr))),
              0u);
    const QImage mapShot = map->grab().toImage();
    EXPECT_EQ(ColoursOffThePalette(mapShot, mapShot.rect()), 0u);
    // Every canvas pixel takes a whole number of device pixels.
    const int whole = std::max(1, static_cast<int>(std::floor(dpr + 0.01)));
    const QWidget* chart = d.window->Widget("PicHistoE");
    EXPECT_NEAR(d.model.ctx.PicHistoE.Picture.Width(), chart->width() * dpr / whole, 1.0);
    EXPECT_LE(mapShot.width(), map->width() * dpr + 1);

    // A second size: the window grown by half.
    d.window->resize(d.window->width() * 3 / 2, d.window->height() * 3 / 2);
    QCoreApplication::processEvents();
    d.window->Sync(true);
    SaveScreenshot(d.window.get(), "main-scale-" + Scale() + "-large.png");
    const QImage large = map->grab().toImage();
    EXPECT_EQ(ColoursOffThePalette(large, large.rect()), 0u);
    EXPECT_GE(map->width(), d.model.ctx.map.picMap.Width() / dpr);
}

}  // namespace
}  // namespace kestra::testing

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR")) qputenv("QT_SCALE_FACTOR", "2");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
