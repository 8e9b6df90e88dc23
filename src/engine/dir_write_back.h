#pragma once

// Directory entries written back after a move.

#include <array>
#include <cstdint>

#include "fat/fat_run.h"
#include "format/sector_size.h"

namespace kestra::engine {

// One directory sector: 16 entries of 32 bytes.
using DirSector = std::array<uint8_t, format::kSectorSize>;

// The 8.3 name of an entry: "README", "README.TXT".
using fat::EntryName;

// Reads the directory sector that holds record JJ's entry, through the parent's
// extents. EntryNo is the entry's number in its folder; its place in the sector
// is EntryNo & 15.
bool FAT_Read_Entry(fat::FatRun& run, uint32_t JJ, DirSector& entries, uint32_t& EntryNo,
                    int64_t& Sector);
// True when the entry is the record's own: not free or erased, with the record's
// 8.3 name and its (still old) start cluster. Otherwise "Invalid fixup subdir".
bool EntryIsRecord(fat::FatRun& run, uint32_t JJ, const uint8_t* entry);
// Checks that the entry is still the record's own (EntryIsRecord) and points it
// at NewStart, then writes the sector. Otherwise "Invalid fixup subdir" and no write.
bool FAT_Update_Entry(fat::FatRun& run, uint32_t JJ, uint32_t NewStart, DirSector& entries,
                      uint32_t EntryNo, int64_t Sector);
// Rewrites "." (Block) and ".." (DotDotClus) in the first sector of cluster Block.
bool FAT_Fix_Dots(fat::FatRun& run, uint32_t JJ, uint32_t Block, uint32_t DotDotClus);
// Before a folder moves, every dot entry its move will rewrite must be there:
// "." and ".." at the start of the folder and of each direct subfolder.
// Otherwise "Invalid Dot entry", so the move stops before its first write.
bool DotLinksReady(fat::FatRun& run, uint32_t JJ);
// The dot fixes after folder JJ moved to Block (its StartCluster already set):
// its own "." and ".." (unless the copy carried them already), and ".." of each
// direct subfolder.
void Fat_Fix_DotLinks(fat::FatRun& run, uint32_t JJ, uint32_t Block, bool ownDots = true);

// The FAT32 root's "entry": the root cluster in the boot sector. The backup boot
// sector is switched first, then sector 0, each behind a barrier, so a cut
// leaves a root that is the old chain or the new one. False, with nothing
// written, when sector 0 no longer names the old root.
bool FAT_Switch_Root(fat::FatRun& run, uint32_t NewRoot);

// First cluster of an entry (high word on FAT32 only) and its rewrite.
uint32_t EntryStart(const fat::FatRun& run, const uint8_t* entry);
void SetEntryStart(const fat::FatRun& run, uint8_t* entry, uint32_t cluster);

}  // namespace kestra::engine
