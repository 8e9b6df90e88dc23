#include "format/code_page.h"

#include "format/dir_entry.h"
#include "format/utf8.h"

namespace kestra::format {
namespace {

size_t TrimmedLength(const uint8_t* p, size_t n, bool dropNuls) {
    while (n > 0 && (p[n - 1] == ' ' || (dropNuls && p[n - 1] == 0)))
        --n;
    return n;
}

}  // namespace

CodePage::CodePage() {
    high_.fill(kReplacement);
}

CodePage::CodePage(int number, const HighHalf& high) : number_(number), high_(high) {}

char32_t CodePage::Char(uint8_t byte) const {
    // Control characters would reach terminals and logs as commands.
    if (byte < 0x20 || byte == 0x7F) return kReplacement;
    return byte < 0x80 ? byte : high_[byte - 0x80];
}

std::string CodePage::Decode(const uint8_t* bytes, size_t count) const {
    std::string out;
    for (size_t i = 0; i < count; ++i)
        AppendUtf8(out, Char(bytes[i]));
    return out;
}

std::string ShortNameText(const uint8_t* entry, const CodePage& page) {
    uint8_t base[8];
    for (size_t i = 0; i < 8; ++i)
        base[i] = entry[i];
    if (base[0] == kE5Stand) base[0] = kErasedMark;
    std::string name = page.Decode(base, TrimmedLength(base, 8, false));
    const size_t ext = TrimmedLength(entry + 8, 3, false);
    if (ext > 0) name += "." + page.Decode(entry + 8, ext);
    return name;
}

std::string LabelText(const uint8_t* label, const CodePage& page) {
    return page.Decode(label, TrimmedLength(label, 11, true));
}

}  // namespace kestra::format
