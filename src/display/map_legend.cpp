#include "display/cluster_map.h"

namespace kestra::display {

std::vector<LegendItem> LegendItems(const LegendMode& mode) {
    const bool structure = mode.CheckStructure;
    const bool moves = mode.CheckStructure && mode.DefragMode >= 0;
    std::vector<LegendItem> items;
    if (structure) items.push_back({"Fixed", kBoxFixed});
    items.push_back({"File", kBoxFile});
    items.push_back({"BigFile", kBoxBigFile});
    items.push_back({"Frag", kBoxFrag});
    if (moves) items.push_back({"Moving", kBoxMoving});
    if (moves) items.push_back({"Moved", kBoxMoved});
    items.push_back({"Empty", kBoxEmpty});
    if (moves) items.push_back({"Partial", kBoxPartial});
    return items;
}

int SwatchPixel(int k, int col, int row) {
    k &= 15;
    if (k < 8 && (col + row) % 2 == 0) return k + 8;
    return k;
}

void ClusterMap::DrawLegend(const LegendMode& mode) {
    picMap.Clear();
    picMap.ForeColor = kBlack;
    for (const LegendItem& item : LegendItems(mode))
        DrawLegendItem(picMap, item.colour, item.label);
}

void ClusterMap::DrawLegendItem(Canvas& picture, int colour, std::string_view label) {
    int x0 = picture.CurrentX;
    picture.CurrentX += 3;
    int x = picture.CurrentX;
    for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 5; ++col) {
            picture.SetPixel(x + col, 3 + row, PaletteColor(SwatchPixel(colour, col, row)));
        }
    }
    // A black rim keeps light swatches (Moving is white) visible on the white map.
    picture.Box(x - 1, 2, x + 5, 8, kBlack);
    picture.CurrentX = x + 4;
    picture.CurrentX += 3;
    picture.CurrentY = 0;
    picture.Print(label);
    if (label.empty()) picture.CurrentX = x0;
    // The picture is in memory, so the window need not come forward first.
    if (!LegendOnly) Canvas::BlockCopy(Swatch, 5 * (colour & 15), 0, 5, 5, picture, x, 3);
}

}  // namespace kestra::display
