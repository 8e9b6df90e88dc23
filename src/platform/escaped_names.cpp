#include "platform/escaped_names.h"

#include <algorithm>

namespace kestra::platform {
namespace {

bool NeedsEscape(unsigned char c) {
    return c < 0x20 || c == 0x7F || c == '"' || c == '%' || c == '\\';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string EscapeName(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(name.size());
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (NeedsEscape(c)) {
            text += '%';
            text += kHex[c >> 4];
            text += kHex[c & 15];
        } else {
            text += ch;
        }
    }
    return text;
}

std::string UnescapeName(std::string_view text) {
    std::string name;
    name.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const bool pair = text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                          HexValue(text[i + 2]) >= 0;
        if (pair) {
            name += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            name += text[i];
        }
    }
    return name;
}

std::vector<std::string> SplitEscapedPath(std::string_view path) {
    std::vector<std::string> names;
    size_t at = 0;
    while (at < path.size()) {
        if (path[at] == '\\') ++at;
        const size_t next = std::min(path.find('\\', at), path.size());
        names.push_back(UnescapeName(path.substr(at, next - at)));
        at = next;
    }
    return names;
}

}  // namespace kestra::platform
