#pragma once

// Chains of the FAT as extents.

#include <cstdint>
#include <vector>

#include "fat/fat_run.h"

namespace kestra::fat {

// A chain as extents: Starts[i] .. Starts[i] + Lens[i] - 1 for i = 1..n.
struct Extents {
    std::vector<uint32_t> Starts;
    std::vector<uint32_t> Lens;
    uint32_t Count() const { return Starts.empty() ? 0 : static_cast<uint32_t>(Starts.size() - 1); }
    // One run of `length` clusters from `start`.
    static Extents OneRun(uint32_t start, uint32_t length) { return {{0, start}, {0, length}}; }
};

// Marks every cluster some FAT entry links to; stops the run on a link beyond the
// volume or a second link to one cluster.
void FAT_Marks(FatRun& run);
// Walks a chain into extents; returns the clusters it holds.
uint32_t GetExtents(FatRun& run, uint32_t start, Extents& extents);
// Fragments of the chain from n (255 stands for more), and its length in Blks.
int Fragmented(FatRun& run, uint32_t n, int64_t& blks);
// Paints every cluster of a chain and counts them in ChainClusters.
void Mark_Chain(FatRun& run, uint32_t cluster, int colour);
// Writes a contiguous chain of blks clusters from block into Fat.
void FAT_Mark_Chain(FatRun& run, uint32_t blks, uint32_t block);

}  // namespace kestra::fat
