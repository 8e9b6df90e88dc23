#include "cli/volume_args.h"

#include <cctype>
#include <filesystem>

namespace kestra::cli {
namespace {

bool IsLetter(const std::string& s) {
    return (s.size() == 1 || (s.size() == 2 && s[1] == ':')) &&
           std::isalpha(static_cast<unsigned char>(s[0]));
}

bool ExistsHere(const std::string& name) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(name, ec));
}

// The mappings of --drive, --codepage and --no-write-through; false with the error set.
bool ApplyVolumeOptions(const ParsedArgs& parsed, VolumeArgs& result) {
    for (const auto& [name, value] : parsed.options) {
        if (name == "no-write-through") {
            result.catalogue.writeThrough = false;
        } else if (name == "codepage") {
            std::optional<format::CodePage> page = platform::ParseCodePage(value, result.error);
            if (!page) {
                result.error = "--codepage: " + result.error;
                return false;
            }
            result.catalogue.codePage = *page;
        } else if (name == "drive") {
            const size_t eq = value.find('=');
            if (eq == std::string::npos || !IsLetter(value.substr(0, eq)) ||
                eq + 1 == value.size()) {
                result.error = "--drive expects L=PATH, for example --drive c=disk.img";
                return false;
            }
            result.error = platform::MalformedPartition(value.substr(eq + 1));
            if (!result.error.empty()) return false;
            result.catalogue.Map(value[0], value.substr(eq + 1));
        }
    }
    return true;
}

}  // namespace

VolumeArgs ResolveVolume(const ParsedArgs& parsed) {
    VolumeArgs result;
    if (!ApplyVolumeOptions(parsed, result)) return result;
    const std::vector<std::string>& operands = parsed.operands;
    if (operands.size() != 1) {
        result.error = operands.empty() ? "no volume given" : "more than one volume given";
        return result;
    }
    const std::string& volume = operands[0];
    if (IsLetter(volume)) {
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(volume[0])));
        const char lower = static_cast<char>(std::tolower(letter));
        const bool mapped = result.catalogue.Has(letter);
        // Only a bare letter can also be a file; "c:" is always the drive.
        const bool file = volume.size() == 1 && ExistsHere(volume);
        if (file && mapped) {
            result.error = "'" + volume + "' is both drive " + letter + ": and the file ./" +
                           volume + "; write " + lower + ": for the drive or ./" + volume +
                           " for the file";
            return result;
        }
        if (!file) {
            result.letter = letter;
            if (!mapped) {
                result.error = std::string("drive ") + letter + ": is not mapped (use --drive " +
                               lower + "=PATH)";
            }
            return result;
        }
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
