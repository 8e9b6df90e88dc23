#pragma once

// FAT chains written to every copy of the FAT.

#include <cstdint>
#include <utility>
#include <vector>

#include "fat/chains.h"
#include "fat/fat_run.h"

namespace kestra::engine {

// Makes block .. block + blks - 1 one chain in Fat and writes the covering FAT
// sectors to every copy. False when the run was not free or a write failed.
bool Synch_Fat1(fat::FatRun& run, uint32_t Block, uint32_t Blks);
// The same for a new chain over several free runs (1..n, in chain order).
bool Synch_Fat1(fat::FatRun& run, const fat::Extents& target);
// The new chain of Synch_Fat1 in Fat only; false, with Fat as it was, when a run
// was not free.
bool Mark_New_Chain(fat::FatRun& run, const fat::Extents& target);
// Writes the FAT sectors that hold the runs (first cluster, length) from Fat to
// every copy, copy 1 first; a sector shared by several runs goes once, adjacent
// sectors in one transfer.
bool Write_Fat_Runs(fat::FatRun& run, std::vector<std::pair<uint32_t, uint32_t>> runs);
// Frees the clusters of the extents (1..n, chain order) in Fat and on disk, over
// the volume's current FAT contents.
bool Synch_Fat2(fat::FatRun& run, const fat::Extents& extents);

// Writes the FAT sectors covering the run from memory, copy 1 first.
bool Synch_Mem_To_Fat(fat::FatRun& run, uint32_t Block, uint32_t Blks);
// Reads the FAT sectors covering the run from copy 1 into memory.
bool Synch_Fat_To_Mem(fat::FatRun& run, uint32_t Block, uint32_t Blks);

// FAT32: brings the FSInfo free count and next-free hint (and their backup) in
// line with the FAT, from the gap list as it now is. Sectors whose signatures are
// missing, or whose counts are right already, are left alone.
bool Synch_FsInfo(fat::FatRun& run);

// Clears the links of a run in Fat, keeping each entry's top four bits.
void Clear_FAT(fat::FatRun& run, uint32_t Temp_Block, uint32_t Temp_Len);

// Cluster ranges (inclusive) between Fat and the raw FAT16 and packed FAT12 images.
void FatToBuffer16(fat::VolumeModel& model, uint32_t First, uint32_t Last);
void BufferToFat16(fat::VolumeModel& model, uint32_t First, uint32_t Last, uint32_t LastCluster);
void FatToBuffer12(fat::VolumeModel& model, uint32_t First, uint32_t Last);
void BufferToFat12(fat::VolumeModel& model, uint32_t First, uint32_t Last, uint32_t LastCluster);

}  // namespace kestra::engine
