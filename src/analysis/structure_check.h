#pragma once

// The structural checks after the map pass: files against chains.

#include <cstdint>

#include "fat/fat_run.h"

namespace kestra::analysis {

// After a failed map pass: a write by another program restarts the pass,
// otherwise the failure counts as a structural error.
void ForeignWriteTest(fat::FatRun& run);

// Files plus folders, less empty files, must equal the chains in the FAT.
// True when the structure is accepted.
bool ChainCountTest(fat::FatRun& run);

// A volume marked as in use (by a run or a mount that never ended) is refused
// before its FAT is even walked: what an interruption left is fsck.fat's to
// judge. True when the volume is clean.
bool CleanShutdownTest(fat::FatRun& run);

// What a checked run requires of the FAT before anything else: the media byte
// in its first entry, no link to a reserved value, and every FAT copy equal to
// the first.
// Stops the run on the first fault; true when the FAT is sound. Counts the
// allocated clusters (bad ones aside) on the way.
bool FatSoundnessTest(fat::FatRun& run, uint64_t& allocatedClusters);

// Every allocated cluster lies on a chain that the chain pass walked from its
// head; what does not (a loop without a head) is lost. True when none is.
bool LostClustersTest(fat::FatRun& run, uint64_t allocatedClusters, uint64_t chainedClusters);

}  // namespace kestra::analysis
