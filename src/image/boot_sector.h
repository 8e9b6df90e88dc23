#pragma once

// Boot sectors, FSInfo and backups written by the image builder.

#include <cstdint>
#include <vector>

#include "image/fat_layout.h"

namespace kestra::image {

// Little-endian stores used by every writer here.
void Put16(std::vector<uint8_t>& bytes, uint64_t at, uint16_t value);
void Put32(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value);
uint16_t Get16(const std::vector<uint8_t>& bytes, uint64_t at);
uint32_t Get32(const std::vector<uint8_t>& bytes, uint64_t at);

constexpr uint32_t kFsInfoSector = 1;
constexpr uint32_t kBackupBootSector = 6;

// Boot sector (and for FAT32 the FSInfo sector and both backups) at the start
// of `volume`. FSInfo counts start as "unknown"; FatImage fills them in.
void WriteBootRegion(const ImageOptions& opts, const Layout& layout, std::vector<uint8_t>& volume);

// FAT32: writes the free count and next-free hint into FSInfo and its backup.
void WriteFsInfoCounts(std::vector<uint8_t>& volume, uint32_t freeCount, uint32_t nextFree);

}  // namespace kestra::image
