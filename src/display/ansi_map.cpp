#include "display/ansi_map.h"

#include <array>

namespace kestra::display {
namespace {

constexpr const char* kReset = "\x1b[0m";

std::string Background(int paletteNumber) {
    int index = AnsiColourIndex(paletteNumber);
    int code = index < 8 ? 40 + index : 100 + (index - 8);
    return "\x1b[" + std::to_string(code) + "m";
}

// The character of a box colour in a map without colours.
char Symbol(int colour) {
    switch (colour) {
        case kBoxUndrawn:
            return ' ';
        case kBoxFixed:
            return '=';
        case kBoxFile:
            return 'o';
        case kBoxBigFile:
            return 'O';
        case kBoxFrag:
            return '#';
        case kBoxMoving:
            return '>';
        case kBoxMoved:
            return '+';
        case kBoxEmpty:
            return '.';
        case kBoxPartial:
            return '%';
        case kBoxBad:
            return 'X';
        default:
            return '?';
    }
}

}  // namespace

int AnsiColourIndex(int paletteNumber) {
    // The palette runs blue-green-red, the terminal red-green-blue.
    static constexpr std::array<int, 16> kIndex = {0, 4,  2,  6,  1, 5,  3,  7,
                                                   8, 12, 10, 14, 9, 13, 11, 15};
    return kIndex[static_cast<unsigned>(paletteNumber) & 15u];
}

std::string AnsiMap(const std::vector<uint8_t>& MapBoxes, const LegendMode& mode) {
    std::string out;
    for (const LegendItem& item : LegendItems(mode)) {
        out += Background(item.colour);
        out += "  ";
        out += kReset;
        out += " ";
        out += item.label;
        out += "  ";
    }
    out += "\n";
    if (MapBoxes.size() <= 1) return out;  // no map
    for (size_t i = 0; i < MapBoxes.size(); ++i) {
        int colour = MapBoxes[i];
        if (colour == 0) {
            out += kReset;
            out += "  ";
        } else {
            out += Background(colour);
            out += "  ";
        }
        if ((i + 1) % kBoxesPerRow == 0 || i + 1 == MapBoxes.size()) {
            out += kReset;
            out += "\n";
        }
    }
    return out;
}

std::string PlainMap(const std::vector<uint8_t>& MapBoxes, const LegendMode& mode) {
    std::string out;
    for (const LegendItem& item : LegendItems(mode)) {
        out += Symbol(item.colour);
        out += " ";
        out += item.label;
        out += "  ";
    }
    out += "\n";
    if (MapBoxes.size() <= 1) return out;
    for (size_t i = 0; i < MapBoxes.size(); ++i) {
        out += Symbol(MapBoxes[i]);
        if ((i + 1) % kBoxesPerRow == 0 || i + 1 == MapBoxes.size()) out += "\n";
    }
    return out;
}

}  // namespace kestra::display
