#pragma once

// The list of free gaps.

#include <cstdint>

#include "fat/fat_run.h"

namespace kestra::fat {

// A cluster the FAT calls free.
bool IsFree(const FatRun& run, uint32_t c);
// The list of free gaps, built from Fat and then kept by hand as files move.
void FAT_FREE_Segs(FatRun& run);
// First gap that takes blks clusters at or above lo (room in block), or 0.
uint32_t FAT_Available(FatRun& run, uint32_t blks, uint32_t& block, uint32_t lo);
bool FAT_Allocate(FatRun& run, uint32_t blks, uint32_t& block, uint32_t lo);
void FAT_Free_Run(FatRun& run, uint32_t start, uint32_t len);
// Takes start .. start + len - 1 out of the gap that holds it, splitting it;
// false when no one gap holds the whole run.
bool FAT_Take_Run(FatRun& run, uint32_t start, uint32_t len);
// Free clusters touching the run block .. block + blks - 1 (0, 1 or 2).
int FAT_Q(FatRun& run, uint32_t block, uint32_t blks);
uint64_t FreeSpaceSectors(const FatRun& run);
uint64_t LargeFreeSectors(const FatRun& run);

}  // namespace kestra::fat
