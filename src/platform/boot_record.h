#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kestra::platform {

enum class FatType { Unknown, Fat12, Fat16, Fat32 };

// The fields of a FAT boot sector that locate every region of the volume, and the
// figures the published rules derive from them.
struct BootRecord {
    uint16_t bytesPerSector = 0;
    uint8_t sectorsPerCluster = 0;
    uint16_t reservedSectors = 0;
    uint8_t numberOfFats = 0;
    uint16_t rootEntryCount = 0;
    uint32_t totalSectors = 0;
    uint16_t fatSize16 = 0;
    uint32_t fatSize32 = 0;
    uint32_t rootCluster = 0;
    // The label of the extended boot record as stored, in the volume's code page.
    bool hasLabel = false;
    std::array<uint8_t, 11> labelBytes{};

    uint32_t FatSectors() const { return fatSize16 != 0 ? fatSize16 : fatSize32; }
    uint32_t RootDirSectors() const { return (uint32_t{rootEntryCount} * 32 + 511) / 512; }
    uint64_t FirstDataSector() const {
        return uint64_t{reservedSectors} + uint64_t{numberOfFats} * FatSectors() + RootDirSectors();
    }
    uint32_t ClusterCount() const;
    // A boot sector laid out for FAT32 (16-bit FAT size 0) is FAT32 whatever its
    // cluster count; otherwise fewer than 4,085 clusters is FAT12, else FAT16.
    FatType Type() const;
};

BootRecord ParseBootRecord(const uint8_t* sector);

// Empty when the volume can be addressed safely; otherwise why it cannot.
std::string CheckBootRecord(const BootRecord& boot, uint64_t deviceSectors);

// The serial number formatters write into the extended boot record; 0 without one.
uint32_t VolumeSerial(const uint8_t* sector);

}  // namespace kestra::platform
