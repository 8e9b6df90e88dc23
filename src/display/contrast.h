#pragma once

// Contrast of text against its background.

#include <algorithm>
#include <cmath>

#include "display/palette.h"

namespace kestra::display {

// Relative luminance of a colour as the web's accessibility rules define it.
inline double Luminance(Rgb c) {
    auto channel = [](uint8_t v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.r) + 0.7152 * channel(c.g) + 0.0722 * channel(c.b);
}

// From 1 (the same) to 21 (black on white); text wants 4.5 at the least.
inline double ContrastRatio(Rgb a, Rgb b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace kestra::display
