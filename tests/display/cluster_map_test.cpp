#include "display/cluster_map.h"

#include <gtest/gtest.h>

#include "display/ansi_map.h"
#include "display/png_output.h"

namespace kestra::display {
namespace {

struct MapFixture : ::testing::Test {
    bool DropLocksFlag = false;
    bool PaintDeferred = false;
    platform::QuietUiHost ui;
    ClusterMap map{ui, PaintGate{DropLocksFlag, PaintDeferred}};

    int Box(int64_t i) const { return map.MapBoxes[static_cast<size_t>(i)]; }
};

TEST(MapScale, FollowsTheGridCapacityOf2870Boxes) {
    EXPECT_EQ(MapScaleFor(2869), 1);
    EXPECT_EQ(MapScaleFor(2870), 2);
    EXPECT_EQ(MapScaleText(MapScaleFor(2870), 8), "Map Scale=8 Kb/Box");
    // A large FAT32 volume needs a scale no 16-bit number holds.
    EXPECT_EQ(MapScaleFor(268435445), 93532);
}

// Boxes never outgrow the 5-pixel swatch they are copied from, and the whole
// grid lies inside the picture at every size.
TEST_F(MapFixture, MapBoxesFollowTwipsPerPixelAndFitThePicture) {
    map.DimensionMap(268435445);
    ASSERT_LE(map.UpperBound(), kMapCapacity);
    for (auto [twips, size] : {std::pair{15, 4}, {12, 5}, {6, 5}, {0, 4}}) {
        map.SetBoxSize(twips);
        EXPECT_EQ(map.BoxSize, size) << twips;
        EXPECT_LE(map.BoxX(kMapCapacity - 1) + map.BoxSize, map.picMap.Width());
        EXPECT_LE(map.BoxY(kMapCapacity - 1) + map.BoxSize, map.picMap.Height());
    }
}

TEST_F(MapFixture, MapPaintClusterPriorities) {
    map.DimensionMap(1000);
    map.PaintCluster(10, kPaintEmptyIfUndrawn);
    EXPECT_EQ(Box(10), kBoxEmpty);  // 135 over undrawn stores 7
    map.PaintCluster(11, kBoxFile);
    map.PaintCluster(11, kPaintEmptyIfUndrawn);
    EXPECT_EQ(Box(11), kBoxFile);  // 135 over 13 leaves it

    map.PaintCluster(12, kBoxFrag);
    for (int code : {kBoxFile, kBoxBigFile, kBoxFixed, kBoxBad}) {
        map.PaintCluster(12, code);
        EXPECT_EQ(Box(12), kBoxFrag) << code;
    }
    for (int code : {kBoxEmpty, kBoxMoved, kBoxMoving}) {
        map.PaintCluster(12, kBoxFrag);
        map.PaintCluster(12, code);
        EXPECT_EQ(Box(12), code);
    }
    // Damaged chains may name clusters beyond the volume: ignored.
    map.PaintCluster(5000, kBoxFile);
    map.PaintCluster(-1, kBoxFile);
}

TEST_F(MapFixture, MapEventsRunOncePerChangedBoxAndWaitUnderTheLocks) {
    map.DimensionMap(1000);
    map.PaintCluster(3, kBoxFile);
    map.PaintCluster(3, kBoxFile);  // unchanged: no draw, no events
    EXPECT_EQ(ui.eventRounds, 1);

    DropLocksFlag = true;
    Canvas before = map.picMap;
    map.PaintCluster(4, kBoxMoving);
    map.picMap_Paint(LegendMode{});
    EXPECT_EQ(Box(4), kBoxMoving);                    // stored ...
    EXPECT_EQ(map.picMap.Pixels(), before.Pixels());  // ... not drawn
    EXPECT_EQ(ui.eventRounds, 1);
    EXPECT_TRUE(PaintDeferred);

    DropLocksFlag = false;
    map.picMap_Paint(LegendMode{});
    EXPECT_EQ(map.picMap.Pixel(map.BoxX(4), map.BoxY(4)), PaletteColor(15));
}

TEST_F(MapFixture, MapRunsCoverEveryBoxOnceAndTheLastCluster) {
    map.DimensionMap(10000);  // scale 4
    ASSERT_EQ(map.MapScale, 4);
    std::vector<int64_t> Starts = {999, 5, 100};
    std::vector<int64_t> Lens = {999, 10, 0};  // element 0 unread; a run of 0 paints nothing
    map.FAT_Redraw_XXXX(Lens, Starts, kBoxFile);
    // 5..14 fills boxes 1, 2 and 3; box 24 holds cluster 99 of the empty run.
    for (int b : {1, 2, 3})
        EXPECT_EQ(Box(b), kBoxFile) << b;
    for (int b : {0, 4, 24, 249})
        EXPECT_EQ(Box(b), 0) << b;

    // A run list longer than a 16-bit index reaches.
    map.DimensionMap(100000);
    std::vector<uint32_t> manyStarts(40001), manyLens(40001, 1);
    for (uint32_t i = 1; i <= 40000; ++i)
        manyStarts[i] = 2 + i * 2;
    map.FAT_Redraw_XXXX(manyLens, manyStarts, kPaintEmptyIfUndrawn);
    EXPECT_EQ(Box(80002 / map.MapScale), kBoxEmpty);
}

TEST_F(MapFixture, MapBoxesAreDrawnAtTheirGridPositions) {
    map.DimensionMap(2000);
    map.PaintCluster(0, kBoxFile);
    map.PaintCluster(71, kBoxFrag);     // row 1, column 1
    map.PaintCluster(72, kBoxPartial);  // a dark colour: a checkerboard with its bright tone
    const Rgb file = PaletteColor(13), frag = PaletteColor(12), w = kWhite;
    const Rgb dark = PaletteColor(6), bright = PaletteColor(14);
    // Both corners of each 4-pixel box, and the gaps to its neighbours.
    const std::tuple<int, int, Rgb> pixels[] = {
        {2, 12, file},  {5, 15, file}, {6, 12, w},       {2, 16, w},     {7, 17, frag},
        {10, 20, frag}, {11, 17, w},   {12, 17, bright}, {13, 17, dark},
    };
    for (const auto& [x, y, colour] : pixels)
        EXPECT_EQ(map.picMap.Pixel(x, y), colour) << x << "," << y;
}

TEST(MapLegend, ItemsDependOnTheMode) {
    auto labels = [](LegendMode mode) {
        std::string s;
        for (const LegendItem& item : LegendItems(mode))
            s += std::string(item.label) + " ";
        return s;
    };
    EXPECT_EQ(labels({false, -1}), "File BigFile Frag Empty ");
    EXPECT_EQ(labels({true, -1}), "Fixed File BigFile Frag Empty ");
    EXPECT_EQ(labels({true, 0}), "Fixed File BigFile Frag Moving Moved Empty Partial ");
    EXPECT_EQ(labels({false, 3}), "File BigFile Frag Empty ");
}

TEST_F(MapFixture, MapRepaintDrawsLegendAndBoxesAndLeavesTheStripAlone) {
    map.RepaintMap({true, 3});  // no map yet: nothing drawn
    EXPECT_EQ(map.picMap.Pixel(3, 3), kWhite);

    map.DimensionMap(2869);
    int codes[] = {kBoxFixed, kBoxFile, kBoxBigFile, kBoxFrag, kBoxMoving, kBoxMoved, kBoxEmpty};
    for (int64_t c = 0; c <= map.UpperBound(); ++c) {
        map.PaintCluster(c, codes[(c / 97) % 7]);
    }
    map.PaintCluster(1500, kBoxBad);
    map.PaintCluster(1200, kBoxPartial);
    Canvas strip = map.Swatch;
    map.RepaintMap({true, 3});
    EXPECT_EQ(map.Swatch.Pixels(), strip.Pixels());
    EXPECT_EQ(map.picMap.Pixel(3 + 1, 3), PaletteColor(10));  // the "Fixed" swatch
    EXPECT_EQ(map.picMap.Pixel(map.BoxX(1500), map.BoxY(1500)), PaletteColor(8));
    EXPECT_TRUE(SavePng(map.picMap, "kestra-map.png"));  // for a person to look at
}

TEST(MapAnsi, OneRowPer70BoxesInTerminalColours) {
    std::vector<uint8_t> boxes(141, 0);
    boxes[0] = kBoxFrag;
    boxes[140] = kBoxFile;
    std::string text = AnsiMap(boxes, LegendMode{});
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 3);
    EXPECT_NE(text.find("\x1b[101m  "), std::string::npos);  // bright red
    EXPECT_NE(text.find("\x1b[105m  "), std::string::npos);  // bright magenta
    EXPECT_NE(text.find(" Empty"), std::string::npos);
    EXPECT_EQ(AnsiColourIndex(1), 4);               // dark blue
    std::string none = AnsiMap({0}, LegendMode{});  // no map: the legend only
    EXPECT_EQ(std::count(none.begin(), none.end(), '\n'), 1);

    // Without colours: the same rows, a character a box, no escapes.
    text = PlainMap(boxes, LegendMode{});
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 3);
    EXPECT_NE(text.find("# Frag"), std::string::npos);
    EXPECT_NE(text.find("\n#" + std::string(69, ' ') + "\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "o\n");
}

}  // namespace
}  // namespace kestra::display
