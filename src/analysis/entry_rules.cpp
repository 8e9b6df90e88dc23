#include "analysis/entry_rules.h"

#include <cstring>

namespace kestra::analysis {

bool BadShortName(const uint8_t* e) {
    if (e[0] == ' ') return true;
    for (int i = 0; i < 11; ++i) {
        const uint8_t c = e[i];
        // 05h in the first byte stands for a name starting with E5h.
        if ((c < 0x20 && !(i == 0 && c == 0x05)) || c == 0x7F) return true;
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
    uint32_t start = e[26] | (e[27] << 8);
    if (fat32) start |= uint32_t(e[20] | (e[21] << 8)) << 16;
    // Of the case byte, only the two lower-case flags mean anything.
    const bool caseByte = (e[12] & ~0x18) == 0;
    return std::memcmp(e, name, 11) == 0 && (e[11] & 0x10) != 0 && caseByte && start == cluster;
}

}  // namespace kestra::analysis
