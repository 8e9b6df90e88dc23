#include "cli/volume_args.h"

#include <cctype>

namespace kestra::cli {
namespace {

bool IsLetter(const std::string& s) {
    return (s.size() == 1 || (s.size() == 2 && s[1] == ':')) &&
           std::isalpha(static_cast<unsigned char>(s[0]));
}

}  // namespace

VolumeArgs ParseVolumeArgs(std::vector<std::string>& args) {
    VolumeArgs result;
    std::vector<std::string> operands;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--drive" || a.rfind("--drive=", 0) == 0) {
            std::string mapping =
                a == "--drive" ? (i + 1 < args.size() ? args[++i] : "") : a.substr(8);
            const size_t eq = mapping.find('=');
            if (eq == std::string::npos || !IsLetter(mapping.substr(0, eq)) ||
                eq + 1 == mapping.size()) {
                result.error = "--drive expects L=PATH, for example --drive c=disk.img";
                return result;
            }
            result.error = platform::MalformedPartition(mapping.substr(eq + 1));
            if (!result.error.empty()) return result;
            result.catalogue.Map(mapping[0], mapping.substr(eq + 1));
        } else if (a == "--no-write-through") {
            result.catalogue.writeThrough = false;
        } else if (a == "--codepage" || a.rfind("--codepage=", 0) == 0) {
            const std::string n =
                a == "--codepage" ? (i + 1 < args.size() ? args[++i] : "") : a.substr(11);
            std::optional<format::CodePage> page = platform::ParseCodePage(n, result.error);
            if (!page) {
                result.error = "--codepage: " + result.error;
                return result;
            }
            result.catalogue.codePage = *page;
        } else if (a.size() > 1 && a[0] == '-') {
            result.error = "unknown option " + a;
            return result;
        } else {
            operands.push_back(a);
        }
    }
    if (operands.size() != 1) {
        result.error = operands.empty() ? "no volume given" : "more than one volume given";
        return result;
    }
    const std::string& volume = operands[0];
    if (IsLetter(volume)) {
        result.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(volume[0])));
        if (!result.catalogue.Has(result.letter)) {
            result.error = std::string("drive ") + result.letter + ": is not mapped (use --drive " +
                           static_cast<char>(std::tolower(result.letter)) + "=PATH)";
        }
        return result;
    }
    result.error = platform::MalformedPartition(volume);
    if (!result.error.empty()) return result;
    result.letter = result.catalogue.FreeLetter();
    if (result.letter == 0) {
        result.error = "no drive letter is free for " + volume;
        return result;
    }
    result.catalogue.Map(result.letter, volume);
    return result;
}

}  // namespace kestra::cli
