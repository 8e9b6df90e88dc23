#pragma once

// Code pages from the system's conversion library.

#include <optional>
#include <string>

#include "format/code_page.h"

namespace kestra::platform {

// The code page every volume is read in unless told otherwise, as mtools does.
inline constexpr int kDefaultCodePage = 850;

// Code page `number` (437, 850, 852, 1252, ...) from the system's character
// conversion library; empty, with the reason in `why`, when the library does
// not know it or it is not a single-byte page.
std::optional<format::CodePage> LoadCodePage(int number, std::string& why);

// A code page named by the user ("850"): digits only, then loaded as above.
std::optional<format::CodePage> ParseCodePage(const std::string& text, std::string& why);

// Code page 850, or ASCII alone where the library lacks it.
format::CodePage DefaultCodePage();

}  // namespace kestra::platform
