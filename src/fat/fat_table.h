#pragma once

// The FAT in memory: read, widened and sized for its type.

#include <cstdint>
#include <vector>

#include "fat/fat_run.h"

namespace kestra::fat {

// Sizes Fat and the raw FAT buffers for the volume's FAT type.
bool SizeFatArrays(FatRun& run);
// Reads FAT 1 into Fat, widening FAT12 and FAT16 values into the FAT32 value space.
bool ReadFat(FatRun& run);

// The FAT32-space value of a raw FAT12 or FAT16 entry on a volume whose last
// cluster is `last`. On the largest volumes of a type the cluster numbers reach
// into the values that elsewhere mark reserved entries (FAT12 FF0h..FF5h):
// there they are links, as the other checkers read them.
uint32_t WidenFat12(uint32_t raw, uint32_t last);
uint32_t WidenFat16(uint32_t raw, uint32_t last);
// Entry n of the FAT16 or packed FAT12 image in memory, raw 16 or 12 bits.
uint32_t Fat16Entry(const std::vector<uint16_t>& fat16, uint32_t n);
uint32_t Fat12Entry(const std::vector<uint8_t>& fat12, uint32_t n);

}  // namespace kestra::fat
