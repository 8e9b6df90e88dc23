#pragma once

// UTF-8 text that stays valid whatever a volume holds.

#include <cstddef>
#include <string>
#include <string_view>

namespace kestra::format {

// U+FFFD, what every byte or unit that cannot be shown becomes.
inline constexpr char32_t kReplacement = 0xFFFD;

// Appends one code point as UTF-8; a surrogate or a value past U+10FFFF
// becomes U+FFFD, so the text stays valid whatever was on the volume.
void AppendUtf8(std::string& out, char32_t c);

// UTF-16 units as UTF-8: pairs joined, a lone surrogate as U+FFFD.
std::string Utf16ToUtf8(const char16_t* units, size_t count);

// The text with every malformed UTF-8 sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// Lower case for comparing names the way a user types them: ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic, the letters of the DOS code pages.
std::string LowerText(std::string_view utf8);

}  // namespace kestra::format
