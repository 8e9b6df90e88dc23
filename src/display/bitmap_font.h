#pragma once

// The built-in bitmap font every picture is written in.

#include <cstdint>
#include <string_view>

namespace kestra::display {

// Two faces built from one 5x8 glyph set (ASCII 32..126; other bytes draw as
// '?'): a proportional face for labels and a fixed 6-pixel cell for hex panes.
// Being part of the code, they draw the same pixels on every machine.
enum class FontFace { Small, Fixed };

inline constexpr int kGlyphRows = 8;     // 7 above the baseline, 1 descender
inline constexpr int kGlyphColumns = 5;  // bit 4 of a row is the left column
inline constexpr int kFontHeight = 9;    // glyph rows plus one row of leading

// Text is UTF-8: a character beyond ASCII is drawn once, as '?', from its
// first byte; the bytes that continue it draw nothing.
inline bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Row r (0..7) of a character's glyph, 5 bits.
uint8_t GlyphRow(char c, int row);

// Columns to skip on the left and pixels to advance after drawing a character.
int GlyphLeft(FontFace face, char c);
int GlyphAdvance(FontFace face, char c);

int FontTextWidth(FontFace face, std::string_view text);

}  // namespace kestra::display
