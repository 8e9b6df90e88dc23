#include "analysis/entry_rules.h"

#include <cstring>

#include "format/dir_entry.h"

namespace kestra::analysis {

bool BadShortName(const uint8_t* e) {
    if (e[0] == ' ') return true;
    for (int i = 0; i < 11; ++i) {
        const uint8_t c = e[i];
        // 05h in the first byte stands for a name starting with E5h.
        if ((c < 0x20 && !(i == 0 && c == format::kE5Stand)) || c == 0x7F) return true;
        if (std::strchr("*?<>|\"\\/:.", c) != nullptr && c != 0) return true;
    }
    return false;
}

bool BadLabel(const uint8_t* e) {
    if (e[0] == ' ') return true;
    for (int i = 0; i < 11; ++i) {
        const uint8_t c = e[i];
        // Bytes from 80h up are the code page's letters (mlabel writes them);
        // only a leading FFh is no character at all.
        if (c < 0x20 || c == 0x7F || (i == 0 && c == 0xFF)) return true;
        if (std::strchr("*?.,;:/\\|+=<>[]\"", c) != nullptr) return true;
    }
    return false;
}

bool IsDotEntry(const uint8_t* e, int index, uint32_t cluster, bool fat32) {
    const char* name = index == 0 ? ".          " : "..         ";
    const format::DirEntry entry(e);
    // Of the case byte, only the two lower-case flags mean anything.
    const bool caseByte = (entry.CaseFlags() & ~(format::kLowerBase | format::kLowerExt)) == 0;
    return std::memcmp(e, name, 11) == 0 && entry.IsFolder() && caseByte &&
           entry.StartCluster(fat32) == cluster;
}

}  // namespace kestra::analysis
