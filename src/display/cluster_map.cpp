#include "display/cluster_map.h"

namespace kestra::display {
namespace {

constexpr int kSwatchSide = 5;

}  // namespace

int32_t MapScaleFor(int64_t ClusterCount) {
    return static_cast<int32_t>(std::max<int64_t>(ClusterCount, 0) / kMapCapacity + 1);
}

std::string MapScaleText(int32_t MapScale, int64_t SectorsPerCluster) {
    return "Map Scale=" + std::to_string(static_cast<int64_t>(MapScale) * SectorsPerCluster / 2) +
           " Kb/Box";
}

ClusterMap::ClusterMap(platform::UiHost& ui, PaintGate gate, int twipsPerPixel)
    : ui_(ui), gate_(gate) {
    SetBoxSize(twipsPerPixel);
    CreateSwatchStrip();
}

void ClusterMap::SetBoxSize(int twipsPerPixel) {
    if (twipsPerPixel <= 0) twipsPerPixel = 15;
    // A box wider than a swatch would copy past it; a box of 0 shows nothing.
    BoxSize = std::clamp(60 / twipsPerPixel, 1, kSwatchSide);
    BoxPitch = BoxSize + 1;
    picMap.Resize(BoxPitch * kBoxesPerRow + 5, BoxPitch * kBoxRows + 15);
}

void ClusterMap::CreateSwatchStrip() {
    Swatch.Resize(16 * kSwatchSide, kSwatchSide);
    // Every swatch is rendered here, so bad clusters (colour 8, no legend
    // item) copy a defined swatch too.
    for (int k = 0; k < 16; ++k) {
        for (int row = 0; row < kSwatchSide; ++row) {
            for (int col = 0; col < kSwatchSide; ++col) {
                Swatch.SetPixel(kSwatchSide * k + col, row, PaletteColor(SwatchPixel(k, col, row)));
            }
        }
    }
}

void ClusterMap::DimensionMap(int64_t ClusterCount) {
    MapScale = MapScaleFor(ClusterCount);
    MapBoxes.assign(static_cast<size_t>(std::max<int64_t>(ClusterCount, 0) / MapScale + 2), 0);
}

void ClusterMap::ClearBoxes() {
    std::fill(MapBoxes.begin(), MapBoxes.end(), 0);
}

int ClusterMap::BoxX(int64_t box) const {
    return static_cast<int>(box % kBoxesPerRow) * BoxPitch + 2;
}

int ClusterMap::BoxY(int64_t box) const {
    return static_cast<int>(box / kBoxesPerRow) * BoxPitch + 12;
}

void ClusterMap::DrawBox(int64_t box, int colour) {
    Canvas::BlockCopy(picMap, BoxX(box), BoxY(box), BoxSize, BoxSize, Swatch,
                      kSwatchSide * (colour & 15), 0);
}

void ClusterMap::PaintCluster(int64_t cluster, int code) {
    if (UpperBound() == 0 || cluster < 0) return;  // no map
    int64_t box = cluster / MapScale;
    // A cluster number beyond the volume (a damaged chain) has no box.
    if (box > UpperBound()) return;
    int old = MapBoxes[static_cast<size_t>(box)];
    if (old == code) return;
    if (code > 15) {
        if (old != 0) return;
        code &= 15;
    } else if (code == kBoxEmpty || code == kBoxMoved || code == kBoxMoving) {
        // these always show
    } else if (old == kBoxFrag) {
        return;  // any piece of a fragmented chain keeps its box red
    }
    MapBoxes[static_cast<size_t>(box)] = static_cast<uint8_t>(code);
    // Under the write locks nothing is drawn; the release repaints from MapBoxes.
    if (gate_.Defer()) return;
    DrawBox(box, code);
    ui_.DoEvents();
}

void ClusterMap::PaintRun(int64_t Start, int64_t Len, int code) {
    // A run of length 0 would paint the cluster before it.
    if (Len < 1) return;
    int64_t last = Start + Len - 1;
    for (int64_t c = Start; c <= last; c += MapScale)
        PaintCluster(c, code);
    PaintCluster(last, code);
}

void ClusterMap::RepaintMap(const LegendMode& mode) {
    if (UpperBound() == 0) return;
    picMap.Clear();
    picMap.ForeColor = kBlack;
    LegendOnly = true;
    DrawLegend(mode);
    LegendOnly = false;
    for (int64_t i = 0; i <= UpperBound(); ++i) {
        int colour = MapBoxes[static_cast<size_t>(i)];
        if (colour != 0) DrawBox(i, colour);
    }
}

void ClusterMap::picMap_Paint(const LegendMode& mode) {
    if (gate_.Defer()) return;
    if (ShowDistribution) {
        DrawHistogram(picMap, "File distribution", Distribution);
    } else {
        RepaintMap(mode);
    }
}

}  // namespace kestra::display
