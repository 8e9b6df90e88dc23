#pragma once

// The help texts of kestra-cli.

#include <string>

namespace kestra::cli {

// The help of the whole program.
const char* GeneralHelp();

// The help of one command: its usage and its own options only; empty for a
// command that does not exist.
std::string CommandHelp(const std::string& command);

}  // namespace kestra::cli
