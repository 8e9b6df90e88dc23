#pragma once

// The desktop program's command line, parsed strictly.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "format/code_page.h"

namespace kestra::app {

// What the desktop program's arguments ask for. Nothing is guessed: an
// argument that is neither a known option nor drive letters in the "/c/d"
// form makes the whole line a usage error, so no drive is ever defragmented
// because of a mistyped option.
struct DesktopArgs {
    enum class Action { Run, Help, Version, Usage };
    Action action = Action::Run;
    std::string error;                                 // why the line is a usage error
    std::vector<std::pair<char, std::string>> mapped;  // --drive L=PATH
    bool writeThrough = true;                          // --no-write-through clears it
    std::optional<format::CodePage> codePage;          // --codepage N
    std::string drives;  // the drive arguments as written ("/c/d /e"); empty: interactive
};

DesktopArgs ParseDesktopArgs(const std::vector<std::string>& args);

// True for one argument of drive letters: one or more "/L" or "/L:", as in "/c/d".
bool IsDriveLetters(const std::string& arg);

}  // namespace kestra::app
