#include "cli/options.h"

namespace kestra::cli {
namespace {

const OptionRule* Find(const std::vector<OptionRule>& rules, const std::string& name) {
    for (const OptionRule& rule : rules) {
        if (name == rule.name) return &rule;
    }
    return nullptr;
}

// A word that a value may not be: another option. "-" alone is a name.
bool LooksLikeOption(const std::string& word) {
    return word.size() > 1 && word[0] == '-';
}

}  // namespace

bool ParsedArgs::Has(const std::string& name) const {
    for (const auto& [n, v] : options) {
        if (n == name) return true;
    }
    return false;
}

std::string ParsedArgs::Last(const std::string& name) const {
    std::string value;
    for (const auto& [n, v] : options) {
        if (n == name) value = v;
    }
    return value;
}

std::vector<std::string> ParsedArgs::All(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& [n, v] : options) {
        if (n == name) values.push_back(v);
    }
    return values;
}

ParsedArgs ParseOptions(const std::vector<std::string>& args,
                        const std::vector<OptionRule>& rules) {
    ParsedArgs parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == "--") {
            parsed.operands.insert(parsed.operands.end(), args.begin() + i + 1, args.end());
            break;
        }
        if (!LooksLikeOption(word)) {
            parsed.operands.push_back(word);
            continue;
        }
        const size_t eq = word.find('=');
        const std::string name = word.rfind("--", 0) == 0 ? word.substr(2, eq - 2) : "";
        const OptionRule* rule = Find(rules, name);
        if (rule == nullptr) {
            parsed.error = "unknown option " + word.substr(0, eq);
            return parsed;
        }
        const std::string dashed = "--" + name;
        if (eq != std::string::npos) {
            if (rule->arity == Arity::Flag) {
                parsed.error = dashed + " takes no value";
                return parsed;
            }
            if (eq + 1 == word.size()) {
                parsed.error = dashed + " needs a value";
                return parsed;
            }
            parsed.options.emplace_back(name, word.substr(eq + 1));
            continue;
        }
        if (rule->arity == Arity::Flag) {
            parsed.options.emplace_back(name, "");
            continue;
        }
        if (i + 1 >= args.size() || LooksLikeOption(args[i + 1])) {
            parsed.error = dashed + " needs a value";
            return parsed;
        }
        parsed.options.emplace_back(name, args[++i]);
        while (rule->arity == Arity::List && i + 1 < args.size() && !LooksLikeOption(args[i + 1]))
            parsed.options.emplace_back(name, args[++i]);
    }
    return parsed;
}

bool AsksForHelp(const std::vector<std::string>& args) {
    for (const std::string& word : args) {
        if (word == "--") return false;
        if (word == "-h" || word == "--help") return true;
    }
    return false;
}

const std::vector<OptionRule>& VolumeOptionRules() {
    static const std::vector<OptionRule> rules = {
        {"drive", Arity::Value}, {"codepage", Arity::Value}, {"no-write-through", Arity::Flag}};
    return rules;
}

std::vector<OptionRule> WithVolumeOptions(std::vector<OptionRule> rules) {
    rules.insert(rules.end(), VolumeOptionRules().begin(), VolumeOptionRules().end());
    return rules;
}

}  // namespace kestra::cli
