#include "tools/crc_checksum.h"

#include <zlib.h>

namespace kestra::tools {

void Get_CRC_CheckSum(const uint8_t* chunk, int32_t length, int32_t& accumulator) {
    const uLong crc = ::crc32(static_cast<uint32_t>(accumulator), chunk, static_cast<uInt>(length));
    accumulator = static_cast<int32_t>(static_cast<uint32_t>(crc));
}

int16_t FoldChecksum(int32_t accumulator) {
    const int32_t folded = (accumulator >> 16) | (accumulator & 0xFFFF);
    return static_cast<int16_t>(static_cast<uint16_t>(folded & 0xFFFF));
}

}  // namespace kestra::tools
