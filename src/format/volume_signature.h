#pragma once

// What the start of a volume holds when it is not a FAT volume.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestra::format {

// Bytes from the start of a volume that tell every signature below apart.
inline constexpr size_t kSignatureBytes = 68 * 1024;

// True when sector 0 carries the fields of a FAT boot sector (a power-of-two
// sector and cluster size, reserved sectors, at least one FAT), however
// damaged the rest may be.
bool HasFatBootFields(const uint8_t* sector0);

// True when sector 0 ends with the 55h AAh signature and its four partition
// slots carry only the status bytes a partition table allows (00h, 80h).
bool HasPartitionSlots(const uint8_t* sector0);

// One of the four slots (1..4) of the classic partition table in sector 0.
struct PartitionSlot {
    uint8_t status = 0;  // 80h: active
    uint8_t type = 0;    // 0: unused
    uint32_t start = 0;  // first sector
    uint32_t count = 0;  // sectors
};
inline constexpr size_t kPartitionTable = 446;
inline constexpr size_t kPartitionSlotBytes = 16;
PartitionSlot ReadPartitionSlot(const uint8_t* sector0, int number);

// What the start of a volume holds instead of a FAT boot sector.
struct Signature {
    std::string what;   // "it holds an ext4 file system", "sector 0 is all zeros ...", ...
    int partition = 0;  // for an MBR: the partition to open instead (1..4), else 0
};

// Reads the signatures in the first `size` bytes (sector 0 first); a signature
// lying beyond `size` is not seen.
Signature IdentifyVolume(const uint8_t* head, size_t size);

}  // namespace kestra::format
