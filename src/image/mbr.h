#pragma once

// MBR disks around built volumes.

#include <cstdint>
#include <vector>

#include "image/fat_layout.h"

namespace kestra::image {

// One MBR slot. `volume` may be empty: the slot then describes `sectors`
// sectors of zeros (a filled slot with no content a test cares about).
struct Partition {
    int slot = 1;  // 1..4
    uint32_t startLba = 2048;
    uint8_t type = 0x0C;
    uint32_t sectors = 0;  // 0: the volume's size
    bool active = false;
    std::vector<uint8_t> volume;
};

// Usual partition type byte for a volume of this type and size.
uint8_t PartitionTypeFor(FatType type, uint32_t sectors);

// A whole disk: MBR in sector 0, every partition copied to its start. The disk
// ends with the last partition. Each volume's hidden-sectors field (and the
// FAT32 backup's) is set to its start, as on a real partitioned disk.
std::vector<uint8_t> BuildMbrDisk(std::vector<Partition> partitions);

// The common case: one volume in `slot` at `startLba`, type from its boot sector.
std::vector<uint8_t> WrapInMbr(const std::vector<uint8_t>& volume, int slot,
                               uint32_t startLba = 2048);

}  // namespace kestra::image
