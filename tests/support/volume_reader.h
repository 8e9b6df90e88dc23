#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestra::testing {

// A FAT volume read from its bytes on its own terms, with none of the core's
// code: the boot sector, the first FAT and the folder tree by 8.3 names.
struct ReadItem {
    std::string path;  // "/DOCS/REPORT~1.DOC"; "/" for the root
    bool folder = false;
    std::vector<uint32_t> clusters;  // the chain in order; empty for a FAT12/16 root

    // Pieces of the chain that are not next to each other.
    uint32_t Extents() const;
};

struct ReadVolume {
    std::string error;  // empty when the walk found nothing it could not follow
    int fatBits = 0;
    uint32_t maxCluster = 0;
    std::vector<ReadItem> items;                      // the root first
    std::vector<std::pair<uint32_t, uint32_t>> gaps;  // free runs: first cluster, length
    uint32_t freeClusters = 0;

    uint32_t LargestGap() const;
};

ReadVolume ReadFatVolume(std::span<const uint8_t> bytes);

}  // namespace kestra::testing
