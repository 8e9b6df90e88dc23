#pragma once

#include <string>

namespace kestra::testing {

// The kestra-cli of this build with its arguments, for RunCommand.
inline std::string Cli(const std::string& args) {
    return std::string(KESTRA_CLI_PATH) + " " + args;
}

}  // namespace kestra::testing
