#pragma once

// The tools' checksum routine.

#include <cstdint>

namespace kestra::tools {

// The checksum routine the tools call chunk by chunk: a CRC-16 (polynomial
// 1021h, register preset to FFFFh and inverted at the end) carried in the low
// half of the accumulator, so that the fold below keeps all 16 bits. An
// accumulator of 0 before a file's first chunk means a fresh register; chunks
// chained through it give the CRC of the whole byte stream.
void Get_CRC_CheckSum(const uint8_t* chunk, int32_t length, int32_t& accumulator);

// The 16-bit checksum of a file from its accumulator: the high half (sign
// kept) OR the low half, as a signed 16-bit value.
int16_t FoldChecksum(int32_t accumulator);

}  // namespace kestra::tools
