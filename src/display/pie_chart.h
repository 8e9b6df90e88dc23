#pragma once

// The free/used pie chart.

#include <cstdint>
#include <string>

#include "display/canvas.h"

namespace kestra::display {

// Where the free/used pie sits on the main window.
inline constexpr int kPieX = 270;
inline constexpr int kPieY = 50;
inline constexpr int kPieRadius = 40;

// What the pie shows: the free slice's angle and the label.
struct PieLayout {
    double FreeAngle = 0;  // radians, 0.02 .. 6.27
    int Percent = 0;       // free share, whole percent
    std::string Label;     // "Free 73%" or "Used 27%"
    int LabelColour = 0;
    int LabelY = 0;
};

PieLayout LayoutPie(int64_t FreeClusters, int64_t TotalClusters);

// Draws nothing when TotalClusters is 0. The print position and the text
// background setting are left as they were.
void DrawPie(Canvas& window, int64_t FreeClusters, int64_t TotalClusters);

}  // namespace kestra::display
