#pragma once

// FAT entries of all three widths, read from and written into the bytes of a FAT.

#include <cstddef>
#include <cstdint>

#include "format/boot_sector.h"
#include "format/little_endian.h"

namespace kestra::format {

inline constexpr uint32_t FatEntryBits(FatType type) {
    return type == FatType::Fat12 ? 12 : type == FatType::Fat16 ? 16 : 32;
}

// The first byte of entry n; a FAT12 entry shares its bytes with a neighbour.
inline size_t FatEntryOffset(FatType type, uint32_t n) {
    switch (type) {
        case FatType::Fat12:
            return size_t{n} + n / 2;
        case FatType::Fat16:
            return size_t{n} * 2;
        default:
            return size_t{n} * 4;
    }
}

// Entry n of `fat`: 12 or 16 bits as stored, FAT32 without its reserved top four bits.
inline uint32_t ReadFatEntry(const uint8_t* fat, FatType type, uint32_t n) {
    const uint8_t* p = fat + FatEntryOffset(type, n);
    switch (type) {
        case FatType::Fat12:
            // Two entries share three bytes: odd ones own the high 12 bits.
            return (n & 1) ? Le16(p) >> 4 : Le16(p) & 0xFFFu;
        case FatType::Fat16:
            return Le16(p);
        default:
            return Le32(p) & 0x0FFFFFFFu;
    }
}

// Sets entry n, keeping the neighbour's half byte of FAT12 and the reserved top
// four bits of FAT32.
inline void WriteFatEntry(uint8_t* fat, FatType type, uint32_t n, uint32_t value) {
    uint8_t* p = fat + FatEntryOffset(type, n);
    switch (type) {
        case FatType::Fat12:
            value &= 0xFFF;
            if (n & 1) {
                p[0] = static_cast<uint8_t>((p[0] & 0x0F) | ((value & 0x0F) << 4));
                p[1] = static_cast<uint8_t>(value >> 4);
            } else {
                p[0] = static_cast<uint8_t>(value & 0xFF);
                p[1] = static_cast<uint8_t>((p[1] & 0xF0) | (value >> 8));
            }
            break;
        case FatType::Fat16:
            PutLe16(p, value & 0xFFFF);
            break;
        default:
            PutLe32(p, (Le32(p) & 0xF0000000u) | (value & 0x0FFFFFFFu));
            break;
    }
}

// The end-of-chain mark written, and the bad-cluster mark, in each width.
inline constexpr uint32_t EndOfChainMark(FatType type) {
    return type == FatType::Fat12 ? 0xFFF : type == FatType::Fat16 ? 0xFFFF : 0x0FFFFFFF;
}
inline constexpr uint32_t BadClusterMark(FatType type) {
    return type == FatType::Fat12 ? 0xFF7 : type == FatType::Fat16 ? 0xFFF7 : 0x0FFFFFF7;
}

// The clean-shutdown bit of entry 1; FAT12 has none.
inline constexpr uint32_t CleanShutdownBit(FatType type) {
    return type == FatType::Fat16 ? 0x8000 : type == FatType::Fat32 ? 0x08000000 : 0;
}

}  // namespace kestra::format
