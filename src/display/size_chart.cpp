#include "display/size_chart.h"

#include <numeric>

namespace kestra::display {

int SizeBucket(int64_t size, int lastClass) {
    int sizeClass = 0;
    int64_t limit = 512;
    while (size > limit && sizeClass < lastClass) {
        limit *= 2;
        ++sizeClass;
    }
    return sizeClass;
}

std::string SizeClassLabel(int sizeClass) {
    if (sizeClass <= 0) return ".5";
    int64_t kilobytes = int64_t{1} << (sizeClass - 1);
    if (kilobytes >= 1024) return std::to_string(kilobytes / 1024) + "mb";
    return std::to_string(kilobytes);
}

int64_t AxisStep(int64_t& max, int64_t& steps) {
    int64_t step = 10000;
    if (max < 11) {
        step = 1;
    } else if (max < 101) {
        step = 10;
    } else if (max < 1001) {
        step = 100;
    } else if (max < 10001) {
        step = 1000;
    }
    if (max == 0) {
        steps = 1;
        max = 1;
        return 1;
    }
    steps = (max + step - 1) / step;
    max = step * steps;
    return step;
}

void DrawHistogram(Canvas& P, std::string_view caption, const SizeBuckets& buckets) {
    const int TH = P.TextHeight("x");
    const int W5 = P.TextWidth("00000 ");
    const int W16 = P.TextWidth("16mb ");
    P.Clear();

    int64_t total = std::accumulate(buckets.begin(), buckets.end(), int64_t{0});
    int64_t max = 0;
    for (int64_t count : buckets)
        max = std::max(max, count);

    std::string title =
        std::string(caption) + " by filesize in kilobytes  (" + std::to_string(total) + ")";
    P.CurrentY = 3;
    P.CurrentX = (P.Width() - P.TextWidth(title)) / 2;
    P.PrintLine(title);

    int64_t steps = 0;
    const int64_t step = AxisStep(max, steps);

    const int top = P.CurrentY + 3;
    const int right = P.Width() - 3;
    const int base = P.Height() - 2 * TH - 3;
    const int H = std::max(base - top, 0);

    const int n = static_cast<int>(buckets.size());
    int BW = RoundPixel(static_cast<double>(right - W5) / n);
    if (W16 > BW) BW = RoundPixel(static_cast<double>(right - (W16 - BW) - W5) / n);

    P.Box(W5 - 1, base + 1, W5 - 1 + BW * n, base + 1 - H, P.ForeColor);

    int x = W5;
    int colour = 9;
    for (int i = 0; i < n; ++i) {
        int h = static_cast<int>(buckets[i] * H / max);
        P.FillBox(x, base + 1, x + BW - 1, base + 1 - h, PaletteColor(colour));
        ++colour;
        if (colour == 15) colour = 9;
        P.CurrentX = x;
        P.CurrentY = (i % 2 == 1) ? base + 3 : base + 3 + TH;
        P.Print(SizeClassLabel(i));
        x += BW;
    }

    for (int64_t j = 0; j <= steps; ++j) {
        int y = RoundPixel(base - static_cast<double>(H) * j / steps);
        if (j > 0) P.Line(W5, y + 1, W5 + n * BW, y + 1, P.ForeColor);
        std::string label = std::to_string(step * j);
        P.CurrentX = W5 - P.TextWidth(label) - 3;
        P.CurrentY = y - TH / 2;
        P.Print(label);
    }
}

void PaintHistogram(HistogramChart& chart, PaintGate gate) {
    if (!chart.Visible) return;
    if (gate.Defer()) return;
    DrawHistogram(chart.Picture, chart.Caption, chart.Buckets);
}

void StartChart(HistogramChart& chart) {
    chart.Buckets.fill(0);
}

void CountSize(SizeBuckets& buckets, int64_t size) {
    ++buckets[SizeBucket(size)];
}

void ShowChart(HistogramChart& chart, std::string_view caption) {
    chart.Visible = true;
    chart.Caption = std::string(caption);
    DrawHistogram(chart.Picture, chart.Caption, chart.Buckets);
}

int64_t GapChartSize(int64_t GapLen, int64_t SectorsPerCluster) {
    if (GapLen <= 0 || SectorsPerCluster <= 0) return 0;
    int64_t sectors = GapLen * SectorsPerCluster;
    if (sectors >= 0x400000) return 2147483647;
    return sectors * format::kSectorSize;
}

}  // namespace kestra::display
