#include "tools/crc_checksum.h"

#include <array>

namespace kestra::tools {
namespace {

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

void Get_CRC_CheckSum(const uint8_t* chunk, int32_t length, int32_t& accumulator) {
    // Kept inverted between chunks: the zero accumulator of a new file is the preset
    // FFFFh, so runs of zero bytes of different lengths give different sums.
    uint16_t crc = static_cast<uint16_t>(accumulator) ^ 0xFFFF;
    for (int32_t i = 0; i < length; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ kTable[(crc >> 8) ^ chunk[i]]);
    accumulator = static_cast<int32_t>(crc ^ 0xFFFF);
}

int16_t FoldChecksum(int32_t accumulator) {
    const int32_t folded = (accumulator >> 16) | (accumulator & 0xFFFF);
    return static_cast<int16_t>(static_cast<uint16_t>(folded & 0xFFFF));
}

}  // namespace kestra::tools
