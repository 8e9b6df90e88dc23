#pragma once

// The one option parser of kestra-cli.

#include <string>
#include <utility>
#include <vector>

namespace kestra::cli {

// How an option is given: alone, with one value ("--png=F" or "--png F"), or with
// the words after it up to the next option ("--only A B").
enum class Arity { Flag, Value, List };

struct OptionRule {
    const char* name;  // without the leading "--"
    Arity arity;
};

// The words of one command line, options apart from operands. "--" ends the
// options: every word after it is an operand, even one that starts with '-'.
struct ParsedArgs {
    std::vector<std::pair<std::string, std::string>> options;  // name, value, in order
    std::vector<std::string> operands;
    std::string error;  // set for an unknown option or a missing value

    bool Has(const std::string& name) const;
    std::string Last(const std::string& name) const;  // "" when not given
    std::vector<std::string> All(const std::string& name) const;
};

ParsedArgs ParseOptions(const std::vector<std::string>& args, const std::vector<OptionRule>& rules);

// True when "-h" or "--help" stands among the options (before any "--").
bool AsksForHelp(const std::vector<std::string>& args);

// The options every command that names a volume takes.
const std::vector<OptionRule>& VolumeOptionRules();

// rules followed by the volume options.
std::vector<OptionRule> WithVolumeOptions(std::vector<OptionRule> rules);

}  // namespace kestra::cli
