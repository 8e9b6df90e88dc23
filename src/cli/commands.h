#pragma once

#include <string>
#include <vector>

namespace kestra::cli {

int InfoCommand(std::vector<std::string> args);
int ViewCommand(std::vector<std::string> args);
int CheckCommand(std::vector<std::string> args);

}  // namespace kestra::cli
