#pragma once

// The cluster map drawn on a terminal.

#include <cstdint>
#include <string>
#include <vector>

#include "display/cluster_map.h"

namespace kestra::display {

// Terminal colour index (0..15, SGR order) of a palette number.
int AnsiColourIndex(int paletteNumber);

// The box map for a terminal: a legend row, then 70 boxes per row, each box
// two cells on its palette colour as background; undrawn boxes keep the
// terminal's own background. Ends with the attributes reset.
std::string AnsiMap(const std::vector<uint8_t>& MapBoxes, const LegendMode& mode);

// The same map for a terminal without colours: one character a box, a legend row
// naming the characters, and no escape sequences.
std::string PlainMap(const std::vector<uint8_t>& MapBoxes, const LegendMode& mode);

}  // namespace kestra::display
