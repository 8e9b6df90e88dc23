#include "display/pie_chart.h"

#include <algorithm>

namespace kestra::display {

PieLayout LayoutPie(int64_t FreeClusters, int64_t TotalClusters) {
    PieLayout pie;
    if (TotalClusters == 0) return pie;
    // Figures that do not add up (free above total) still give a share of 0..1.
    double share = std::clamp(
        static_cast<double>(FreeClusters) / static_cast<double>(TotalClusters), 0.0, 1.0);
    // Neither slice may vanish: a slice of no angle would draw as a whole disc.
    pie.FreeAngle = std::clamp(share * 6.28318, 0.02, 6.27);
    pie.Percent = RoundPixel(share * 100);
    if (pie.FreeAngle > 3.14159) {
        pie.Label = "Free " + std::to_string(pie.Percent) + "%";
        pie.LabelColour = 0;
        pie.LabelY = 37;
    } else {
        pie.Label = "Used " + std::to_string(100 - pie.Percent) + "%";
        pie.LabelColour = 15;
        pie.LabelY = 52;
    }
    return pie;
}

void DrawPie(Canvas& window, int64_t FreeClusters, int64_t TotalClusters) {
    if (TotalClusters == 0) return;
    const int keepX = window.CurrentX;
    const int keepY = window.CurrentY;
    const bool keepTransparent = window.FontTransparent;
    PieLayout pie = LayoutPie(FreeClusters, TotalClusters);

    window.FillMode = FillStyle::Solid;
    window.ForeColor = kBlack;
    window.FillColor = PaletteColor(15);
    window.PieSlice(kPieX, kPieY, kPieRadius, 0, pie.FreeAngle);
    window.FillColor = PaletteColor(9);
    window.PieSlice(kPieX, kPieY, kPieRadius, pie.FreeAngle, 6.28318);

    window.FontTransparent = true;  // the label sits on the slices
    window.ForeColor = PaletteColor(pie.LabelColour);
    window.CurrentX = kPieX - window.TextWidth(pie.Label) / 2;
    window.CurrentY = pie.LabelY;
    window.Print(pie.Label);

    window.FillMode = FillStyle::Transparent;
    window.ForeColor = PaletteColor(15);
    window.Circle(kPieX, kPieY, kPieRadius + 1);

    window.ForeColor = kBlack;
    window.FontTransparent = keepTransparent;
    window.CurrentX = keepX;
    window.CurrentY = keepY;
}

}  // namespace kestra::display
