#pragma once

// The layout a built volume gets: type, sizes and regions.

#include <cstdint>
#include <optional>
#include <string>

#include "format/boot_sector.h"
#include "format/sector_size.h"

namespace kestra::image {

enum class FatType { kFat12, kFat16, kFat32 };

const char* FatTypeName(FatType type);

// Cluster counts at which the type changes: fewer than 4,085 is FAT12, fewer than
// 65,525 is FAT16, anything more is FAT32.
constexpr uint32_t kMinFat16Clusters = format::kMinFat16Clusters;
constexpr uint32_t kMinFat32Clusters = format::kMinFat32Clusters;

FatType TypeForClusterCount(uint32_t clusters);
format::FatType FormatType(FatType type);

// What a test asks for. Zero in reservedSectors or fatSectors means "choose".
struct ImageOptions {
    uint32_t totalSectors = 2880;
    uint8_t sectorsPerCluster = 1;
    uint16_t reservedSectors = 0;  // 0: 1 for FAT12/16, 32 for FAT32
    uint16_t rootEntries = 224;    // FAT12/16 only; FAT32 always writes 0
    uint8_t numFats = 2;
    uint32_t fatSectors = 0;  // 0: smallest size that covers every cluster
    std::string label;        // empty: "NO NAME" in the boot sector, no label entry
    uint8_t media = 0xF8;
    // Written into the boot sector only; the image itself always uses 512-byte
    // sectors, so a different value makes a volume the core must refuse.
    uint16_t bytesPerSectorField = format::kSectorSize;
    uint32_t rootCluster = 2;  // FAT32
    uint32_t hiddenSectors = 0;
    uint16_t sectorsPerTrack = 63;
    uint16_t heads = 255;
    uint32_t volumeId = 0x4B455354;
    // Unset: the type follows the cluster count. Set: that type's layout is
    // written whatever the count, to make volumes that break the rule.
    std::optional<FatType> forceType;

    static ImageOptions Floppy1440();  // FAT12, 2,880 sectors, 224 root entries
    static ImageOptions Fat16(uint32_t totalSectors = 16384, uint8_t sectorsPerCluster = 2);
    static ImageOptions Fat32(uint8_t sectorsPerCluster = 1);  // just past the FAT32 threshold
};

// Where everything sits, in 512-byte sectors from the start of the volume.
struct Layout {
    FatType type = FatType::kFat12;
    uint32_t totalSectors = 0;
    uint32_t sectorsPerCluster = 1;
    uint32_t reservedSectors = 0;
    uint32_t numFats = 2;
    uint32_t fatSectors = 0;
    uint32_t rootEntries = 0;
    uint32_t rootDirSectors = 0;
    uint32_t firstRootSector = 0;  // FAT12/16 fixed root
    uint32_t firstDataSector = 0;
    uint32_t clusterCount = 0;
    uint32_t rootCluster = 0;  // FAT32

    uint32_t ClusterBytes() const { return sectorsPerCluster * format::kSectorSize; }
    uint32_t MaxCluster() const { return clusterCount + 1; }
    uint64_t ClusterSector(uint32_t cluster) const {
        return firstDataSector + uint64_t{cluster - 2} * sectorsPerCluster;
    }
    uint32_t FatStartSector(uint32_t copy) const { return reservedSectors + copy * fatSectors; }
    uint32_t EndOfChain() const;
    uint32_t BadMark() const;
    uint32_t EntryMask() const;
};

// Throws std::invalid_argument when the geometry cannot hold a volume.
Layout ComputeLayout(const ImageOptions& opts);

// Returns `base` with totalSectors set so the volume has exactly `clusters`
// clusters (FAT size chosen by ComputeLayout). Throws when `clusters` does not
// give `type` under the rule, unless base.forceType says otherwise.
ImageOptions OptionsForClusterCount(FatType type, uint32_t clusters, ImageOptions base = {});

}  // namespace kestra::image
