#pragma once

// Healthy volumes generated from seeds.

#include <cstdint>
#include <string>
#include <vector>

#include "image/fat_image.h"
#include "image/image_builder.h"
#include "image/mbr.h"

namespace kestra::image {

// What a generated volume holds, so a run over many seeds can show it covered
// every shape.
constexpr uint32_t kFragmentedFile = 1u << 0;
constexpr uint32_t kFragmentedFolder = 1u << 1;
constexpr uint32_t kFragmentedRoot = 1u << 2;  // FAT32 root in several pieces
constexpr uint32_t kWholeRoot = 1u << 3;       // FAT32 root in one piece
constexpr uint32_t kErasedFirst = 1u << 4;  // erased entry in the first slot after the dot entries
constexpr uint32_t kErasedMiddle = 1u << 5;
constexpr uint32_t kErasedLast = 1u << 6;
constexpr uint32_t kErasedInRoot = 1u << 7;
constexpr uint32_t kErasedLongName = 1u << 8;
constexpr uint32_t kErasedFolder = 1u << 9;
constexpr uint32_t kLongName = 1u << 10;          // a name needing three slots or more
constexpr uint32_t kSetAcrossSectors = 1u << 11;  // one entry's slots in two sectors
constexpr uint32_t kFolderAcrossClusters = 1u << 12;
constexpr uint32_t kEmptyFile = 1u << 13;
constexpr uint32_t kOneCluster = 1u << 14;
constexpr uint32_t kOneClusterAndAByte = 1u << 15;
constexpr uint32_t kAttributes = 1u << 16;  // hidden, system or read-only
constexpr uint32_t kLabel = 1u << 17;
constexpr uint32_t kInMbr = 1u << 18;
constexpr uint32_t kDeep = 1u << 19;  // folders eight deep
constexpr uint32_t kWide = 1u << 20;  // a folder of 100 entries or more
constexpr uint32_t kNearlyFull = 1u << 21;
constexpr uint32_t kNearlyEmpty = 1u << 22;
constexpr uint32_t kBigClusters = 1u << 23;  // 32 or 64 sectors
constexpr uint32_t kAllFeatures = (1u << 24) - 1;
std::string FeatureNames(uint32_t features);

// A healthy volume made from a seed: the same seed always gives the same bytes.
// The property tests defragment thousands of them; `kestra-cli demo --seed N`
// builds one, so a seed that failed can be looked at.
struct RandomVolume {
    uint32_t seed = 0;
    FatImage built;
    std::vector<uint8_t> disk;  // MBR disk holding the volume; empty when bare
    uint32_t start = 0;         // the volume's first sector on `disk`
    uint32_t features = 0;
    std::string shape;  // "FAT16, 4 sectors a cluster, 5000 clusters, 43% used, ..."

    const std::vector<uint8_t>& Bytes() const { return disk.empty() ? built.bytes() : disk; }
};

RandomVolume MakeRandomVolume(uint32_t seed);

}  // namespace kestra::image
