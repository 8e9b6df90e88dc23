#pragma once

// Pictures written as PNG files.

#include <cstdint>
#include <string>
#include <vector>

#include "display/canvas.h"

namespace kestra::display {

// The picture as an 8-bit RGB PNG. No time stamp or text chunk is written, so
// the same picture always gives the same bytes. Empty on failure.
std::vector<uint8_t> EncodePng(const Canvas& picture);

// Writes EncodePng's bytes to a file; false (with a reason) when it cannot.
bool SavePng(const Canvas& picture, const std::string& path, std::string* error = nullptr);

}  // namespace kestra::display
