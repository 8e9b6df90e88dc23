#pragma once

// The cluster map: what each box shows and how it is drawn.

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "display/canvas.h"
#include "display/paint_gate.h"
#include "display/size_chart.h"
#include "platform/ui_host.h"

namespace kestra::display {

// Map colour codes: what analysis and engine tell the map a cluster holds.
inline constexpr int kBoxUndrawn = 0;
inline constexpr int kBoxBigFile = 5;
inline constexpr int kBoxPartial = 6;
inline constexpr int kBoxEmpty = 7;
inline constexpr int kBoxBad = 8;
inline constexpr int kBoxMoved = 9;
inline constexpr int kBoxFixed = 10;
inline constexpr int kBoxFrag = 12;
inline constexpr int kBoxFile = 13;
inline constexpr int kBoxMoving = 15;
// Empty, but only where the box is not drawn yet; never stored.
inline constexpr int kPaintEmptyIfUndrawn = 135;

inline constexpr int kBoxesPerRow = 70;
inline constexpr int kBoxRows = 41;
inline constexpr int kMapCapacity = kBoxesPerRow * kBoxRows;  // 2870

// The mode flags the legend depends on.
struct LegendMode {
    bool CheckStructure = false;
    int DefragMode = -1;  // -1 view or check only, 0 defragment, 3 and pack
};

struct LegendItem {
    std::string_view label;
    int colour;
};

// The legend items of a mode, left to right.
std::vector<LegendItem> LegendItems(const LegendMode& mode);

// Clusters per box for a volume: ClusterCount \ 2870 + 1.
int32_t MapScaleFor(int64_t ClusterCount);
// The status line that tells the user what one box holds.
std::string MapScaleText(int32_t MapScale, int64_t SectorsPerCluster);

// Colour number of pixel (col, row) of the swatch of colour k: dark tones are
// a checkerboard with their bright partner, bright tones are solid.
int SwatchPixel(int k, int col, int row);

// The cluster map picture and its memory: one colour number per box, redrawn
// from MapBoxes whenever the window asks.
class ClusterMap {
  public:
    ClusterMap(platform::UiHost& ui, PaintGate gate, int twipsPerPixel = 15);

    // State.
    std::vector<uint8_t> MapBoxes = std::vector<uint8_t>(1, 0);  // upper bound 0: no map
    int BoxSize = 4;
    int BoxPitch = 5;
    int32_t MapScale = 1;
    bool LegendOnly = false;
    bool ShowDistribution = false;  // picMap shows the file distribution instead
    Canvas picMap;
    Canvas Swatch;  // 16 swatches of 5 x 5, colour k at x = 5k
    SizeBuckets Distribution{};

    // Box size and picture size from the screen's twips per pixel.
    void SetBoxSize(int twipsPerPixel);
    void CreateSwatchStrip();
    // Sizes MapBoxes for a pass (all boxes undrawn) and sets MapScale.
    void DimensionMap(int64_t ClusterCount);
    void ResetMap() { MapBoxes.assign(1, 0); }
    void ClearBoxes();
    int64_t UpperBound() const { return static_cast<int64_t>(MapBoxes.size()) - 1; }

    void DrawLegend(const LegendMode& mode);
    void DrawLegendItem(Canvas& picture, int colour, std::string_view label);
    void DrawBox(int64_t box, int colour);
    // Top-left pixel of a box.
    int BoxX(int64_t box) const;
    int BoxY(int64_t box) const;

    void PaintCluster(int64_t cluster, int code);
    // One run of Len clusters from Start; runs shorter than 1 paint nothing.
    void PaintRun(int64_t Start, int64_t Len, int code);
    // Runs i = 1 .. upper bound of Lens (element 0 unused), any length of list.
    template <class LenList, class StartList>
    void FAT_Redraw_XXXX(const LenList& Lens, const StartList& Starts, int code) {
        size_t count = std::min(std::size(Lens), std::size(Starts));
        for (size_t i = 1; i < count; ++i) {
            PaintRun(static_cast<int64_t>(Starts[i]), static_cast<int64_t>(Lens[i]), code);
        }
    }

    void RepaintMap(const LegendMode& mode);
    // The main window's paint request for the map area.
    void picMap_Paint(const LegendMode& mode);

  private:
    platform::UiHost& ui_;
    PaintGate gate_;
};

}  // namespace kestra::display
