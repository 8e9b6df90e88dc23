#pragma once

// Directory entries written by the image builder.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "format/dir_entry.h"

namespace kestra::image {

// The 11 bytes of an 8.3 name as stored: name padded to 8, extension to 3.
using ShortName = std::array<uint8_t, 11>;
using RawEntry = std::array<uint8_t, 32>;

// True when `name` is already a stored-as-is 8.3 name ("NAME.EXT", upper case,
// legal characters), so it needs no long-name entries.
bool IsPlainShortName(std::string_view name);

// "NAME.EXT" -> stored bytes; throws std::invalid_argument when not 8.3.
ShortName PackShortName(std::string_view dotted);
// Stored bytes -> "NAME.EXT" (no dot when the extension is blank).
std::string UnpackShortName(const ShortName& name);
// Eleven bytes padded with spaces, for the volume label.
ShortName PackLabel(std::string_view label);

// The 8.3 alias for a long name: the upper-cased name itself when that is a
// lossless 8.3 name, otherwise BASE~N.EXT with the lowest N not `taken`.
ShortName MakeAlias(std::string_view longName, const std::function<bool(const ShortName&)>& taken);

uint8_t ShortNameChecksum(const ShortName& name);

// UTF-8 to UTF-16 (BMP only; throws on malformed input).
std::u16string Utf8ToUtf16(std::string_view text);

// Long-name slots for `name` in on-disk order (highest ordinal first).
std::vector<RawEntry> LongNameSlots(std::string_view name, uint8_t checksum);

RawEntry ShortEntry(const ShortName& name, uint8_t attributes, uint32_t cluster, uint32_t size);

}  // namespace kestra::image
