#include "display/size_chart.h"

#include <gtest/gtest.h>

#include "display/pie_chart.h"

namespace kestra::display {
namespace {

TEST(ChartClasses, SizeBucketBoundsAndLabels) {
    // A 4 GB FAT32 file is no negative size.
    const std::pair<int64_t, int> buckets[] = {
        {0, 0}, {512, 0}, {513, 1}, {8388608, 14}, {8388609, 15}, {int64_t{4} << 30, 15}};
    for (auto [bytes, bucket] : buckets)
        EXPECT_EQ(SizeBucket(bytes), bucket) << bytes;
    const std::pair<int, const char*> labels[] = {
        {0, ".5"}, {1, "1"}, {10, "512"}, {11, "1mb"}, {15, "16mb"}};
    for (auto [sizeClass, label] : labels)
        EXPECT_EQ(SizeClassLabel(sizeClass), label) << sizeClass;
}

TEST(ChartAxis, StepRoundsTheLargestCountUp) {
    struct Case {
        int64_t max, step, steps, top;
    };
    for (Case c : {Case{0, 1, 1, 1}, Case{7, 1, 7, 7}, Case{57, 10, 6, 60},
                   Case{10001, 10000, 2, 20000}, Case{100, 10, 10, 100}}) {
        int64_t max = c.max;
        int64_t steps = -1;
        EXPECT_EQ(AxisStep(max, steps), c.step) << c.max;
        EXPECT_EQ(steps, c.steps) << c.max;
        EXPECT_EQ(max, c.top) << c.max;
    }
}

TEST(ChartHistogram, TallestBarReachesTheAxisTopAndPngIsLeft) {
    HistogramChart chart;
    chart.Picture = Canvas(320, 180);
    StartChart(chart);
    const int64_t sizes[] = {100, 600, 600, 3000, 40000, 40000, 40000, 2000000, 9000000};
    for (int64_t s : sizes)
        CountSize(chart.Buckets, s);
    for (int i = 0; i < 4; ++i)
        CountSize(chart.Buckets, 100000);  // class 8 holds 4
    ShowChart(chart, "Gaps");
    EXPECT_TRUE(chart.Visible);

    const Canvas& p = chart.Picture;
    const int TH = p.TextHeight();
    const int W5 = p.TextWidth("00000 ");
    const int base = p.Height() - 2 * TH - 3;
    const int H = base - (3 + TH + 3);
    // 16 bars of 18 pixels would crowd out the last label: 17.
    const int BW = 17;
    auto barTop = [&](int sizeClass, Rgb colour) {
        int x = W5 + sizeClass * BW + 2;
        int y = base + 1;
        while (y > 0 && (p.Pixel(x, y - 1) == colour || p.Pixel(x, y - 1) == kBlack))
            --y;
        return y;
    };
    // Class 8 holds 4 of an axis of 4: full height; class 7 holds 3.
    EXPECT_EQ(barTop(8, PaletteColor(11)), base + 1 - H);
    EXPECT_EQ(barTop(7, PaletteColor(10)), base + 1 - 3 * H / 4);
    EXPECT_EQ(p.Pixel(W5 + 7 * BW + 2, base - H / 2), PaletteColor(10));
    EXPECT_EQ(p.Pixel(W5 + 7 * BW + 2, base - H + 2), kWhite);

    bool DropLocksFlag = true;
    bool PaintDeferred = false;
    Canvas before = chart.Picture;
    chart.Buckets.fill(0);
    PaintHistogram(chart, PaintGate{DropLocksFlag, PaintDeferred});
    EXPECT_TRUE(PaintDeferred);
    EXPECT_EQ(chart.Picture.Pixels(), before.Pixels());
}

TEST(ChartFillers, CountWhatTheirListsHold) {
    HistogramChart chart;
    // Gaps 1..3 of 4; a gap of 2 GB or more counts in the last class.
    std::vector<uint32_t> GapLen = {77, 1, 0, 0x400000, 5};
    GapChart(chart, GapLen, 1, 3, 1);
    EXPECT_EQ(chart.Caption, "Gaps");
    EXPECT_EQ(chart.Buckets[0], 1);
    EXPECT_EQ(chart.Buckets[15], 1);
    EXPECT_EQ(GapChartSize(0x400000, 1), 2147483647);
    EXPECT_EQ(GapChartSize(3, 4), 6144);

    // Two class lists in falling start order; the walk stops at start <= 500.
    std::vector<int64_t> start = {900, 700, 400, 800, 300};
    std::vector<int64_t> size = {100, 1000, 5000, 600, 100};
    std::vector<int64_t> ClassNext = {1, 2, -1, 4, -1};
    std::vector<int64_t> ClassHead = {0, 3, -1};
    CandidateChart(
        chart, ClassHead, ClassNext, -1, 500, [&](int64_t n) { return start[n]; },
        [&](int64_t n) { return size[n]; });
    EXPECT_EQ(chart.Caption, "Candidates");
    EXPECT_EQ(chart.Buckets[0], 1);
    EXPECT_EQ(chart.Buckets[1], 2);
    EXPECT_EQ(chart.Buckets[4], 0);
    // A list that loops still ends.
    std::vector<int64_t> loop = {1, 0, -1, -1, -1};
    CandidateChart(
        chart, ClassHead, loop, -1, 0, [&](int64_t n) { return start[n]; },
        [&](int64_t n) { return size[n]; });

    std::vector<int> frags = {2, 1, 3, 5};
    std::vector<int64_t> clusters = {9, 4, 2, 70000};
    FragmentChart(
        chart, 1, 3, 4, [&](int64_t i) { return frags[i]; },
        [&](int64_t i) { return clusters[i]; });
    EXPECT_EQ(chart.Caption, "Fragments");
    EXPECT_EQ(chart.Buckets[SizeBucket(2 * 4 * 512)], 1);
    EXPECT_EQ(chart.Buckets[15], 1);                       // 70000 x 2 KB
    EXPECT_EQ(chart.Buckets[SizeBucket(9 * 4 * 512)], 0);  // record 0 is not walked
}

TEST(ChartPie, LabelsAtTheLimits) {
    PieLayout all = LayoutPie(1000, 1000);
    EXPECT_DOUBLE_EQ(all.FreeAngle, 6.27);
    EXPECT_EQ(all.Label, "Free 100%");
    PieLayout full = LayoutPie(0, 1000);
    EXPECT_DOUBLE_EQ(full.FreeAngle, 0.02);
    EXPECT_EQ(full.Label, "Used 100%");
    EXPECT_EQ(LayoutPie(500, 1000).Label, "Used 50%");
    EXPECT_EQ(LayoutPie(5000, 1000).Label, "Free 100%");

    Canvas window(400, 120);
    window.CurrentX = 11;
    window.CurrentY = 22;
    DrawPie(window, 250, 1000);
    EXPECT_EQ(window.Pixel(290, 30), PaletteColor(15));  // upper right: free
    EXPECT_EQ(window.Pixel(250, 70), PaletteColor(9));   // lower left: used
    EXPECT_EQ(window.CurrentX, 11);
    EXPECT_EQ(window.CurrentY, 22);
    Canvas untouched(400, 120);
    DrawPie(untouched, 0, 0);
    EXPECT_EQ(untouched.Pixels(), Canvas(400, 120).Pixels());
}

}  // namespace
}  // namespace kestra::display
