#pragma once

#include <cstdint>

namespace kestra::tools {

// The checksum routine the tools call chunk by chunk: zlib's CRC-32 of the
// chunk, carried on from the accumulator (0 before a file's first chunk).
void Get_CRC_CheckSum(const uint8_t* chunk, int32_t length, int32_t& accumulator);

// The 16-bit checksum of a file from its accumulator: the high half (sign
// kept) OR the low half, as a signed 16-bit value.
int16_t FoldChecksum(int32_t accumulator);

}  // namespace kestra::tools
