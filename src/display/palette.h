#pragma once

// The 16 colours of every picture and status line.

#include <array>
#include <cstdint>

namespace kestra::display {

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    friend constexpr bool operator==(Rgb, Rgb) = default;
};

// The 16 colours every picture and every status line is drawn in; boxes and
// text colours are stored as these numbers.
inline constexpr std::array<Rgb, 16> kPalette = {{
    {0, 0, 0},
    {0, 0, 128},
    {0, 128, 0},
    {0, 128, 128},
    {128, 0, 0},
    {128, 0, 128},
    {128, 128, 0},
    {192, 192, 192},
    {128, 128, 128},
    {0, 0, 255},
    {0, 255, 0},
    {0, 255, 255},
    {255, 0, 0},
    {255, 0, 255},
    {255, 255, 0},
    {255, 255, 255},
}};

// Numbers outside 0..15 wrap into the palette rather than reading past it.
constexpr Rgb PaletteColor(int number) {
    return kPalette[static_cast<unsigned>(number) & 15u];
}

inline constexpr Rgb kBlack = kPalette[0];
inline constexpr Rgb kWhite = kPalette[15];

}  // namespace kestra::display
