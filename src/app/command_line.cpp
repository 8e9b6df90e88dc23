#include "app/command_line.h"

#include "platform/code_pages.h"

#include <cctype>

namespace kestra::app {
namespace {

bool Alpha(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 128;
}

// "L=PATH" or "L:=PATH" with a letter and a non-empty path.
bool TakeMapping(const std::string& m, DesktopArgs& out) {
    const size_t eq = m.find('=');
    if (eq == std::string::npos || eq + 1 == m.size() || !Alpha(m[0])) return false;
    if (eq != 1 && !(eq == 2 && m[1] == ':')) return false;
    out.mapped.emplace_back(m[0], m.substr(eq + 1));
    return true;
}

DesktopArgs Usage(DesktopArgs out, std::string why) {
    out.action = DesktopArgs::Action::Usage;
    out.error = std::move(why);
    return out;
}

}  // namespace

bool IsDriveLetters(const std::string& arg) {
    size_t i = 0;
    bool letter = false;
    while (i < arg.size()) {
        if (arg[i] != '/') return false;
        while (i < arg.size() && arg[i] == '/')
            ++i;
        if (i == arg.size()) break;  // a trailing "/" is allowed
        if (!Alpha(arg[i])) return false;
        letter = true;
        ++i;
        if (i < arg.size() && arg[i] == ':') ++i;
    }
    return letter;
}

DesktopArgs ParseDesktopArgs(const std::vector<std::string>& args) {
    DesktopArgs out;
    bool options = true;  // until "--"
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!options || a == "--") {
            if (options) {
                options = false;
            } else if (!IsDriveLetters(a)) {
                return Usage(out, "unexpected argument " + a + " (drive letters are written /c/d)");
            } else {
                out.drives += (out.drives.empty() ? "" : " ") + a;
            }
            continue;
        }
        // Informational options answer and end the program; they belong here.
        if (a == "-h" || a == "--help") {
            out.action = DesktopArgs::Action::Help;
            return out;
        }
        if (a == "--version") {
            out.action = DesktopArgs::Action::Version;
            return out;
        }
        if (a == "--drive" || a.rfind("--drive=", 0) == 0) {
            const bool separate = a == "--drive";
            if (separate && i + 1 == args.size()) return Usage(out, "--drive needs L=PATH");
            const std::string m = separate ? args[++i] : a.substr(8);
            if (!TakeMapping(m, out))
                return Usage(out, "--drive expects L=PATH, for example --drive c=disk.img");
        } else if (a == "--no-write-through") {
            out.writeThrough = false;
        } else if (a == "--codepage" || a.rfind("--codepage=", 0) == 0) {
            const bool separate = a == "--codepage";
            if (separate && i + 1 == args.size()) return Usage(out, "--codepage needs a number");
            std::string why;
            out.codePage = platform::ParseCodePage(separate ? args[++i] : a.substr(11), why);
            if (!out.codePage) return Usage(out, "--codepage: " + why);
        } else if (IsDriveLetters(a)) {
            out.drives += (out.drives.empty() ? "" : " ") + a;
        } else if (a.rfind("-", 0) == 0) {
            return Usage(out, "unknown option " + a);
        } else {
            return Usage(out, "unexpected argument " + a + " (drive letters are written /c/d)");
        }
    }
    return out;
}

}  // namespace kestra::app
