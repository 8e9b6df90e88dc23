#pragma once

// The pack pass: free gaps filled from the start of the volume.

#include <cstdint>
#include <vector>

#include "engine/defrag_pass.h"
#include "engine/engine_context.h"
#include "engine/pack_lists.h"

namespace kestra::engine {

// Fills the free gaps from the start of the volume with files that lie above
// them: one of the gap's exact size, else the file right after it (sliding it
// down), else the largest files that fit.
void FAT_RemoveHoles(Engine& e);
// Compacts every folder that holds erased entries.
void FAT_Pack_Dirs(Engine& e);

// The candidates in record order, not yet sorted; none without a gap.
void ListPackCandidates(Engine& e, PackCandidates& c);
// The gap walk over the sorted candidates in c.list.
void FAT_Fill_Gaps(Engine& e, PackCandidates& c);
// The best candidate of at most Len clusters lying above gstart (with Exact,
// only one of exactly Len); its record in pick. False when there is none.
bool FAT_Best_Fit(Engine& e, uint32_t Len, uint32_t gstart, PackCandidates& c, bool Exact,
                  uint32_t& pick);
// The file that begins right after gap g, when sliding it down is worthwhile.
bool FAT_Slide_Next(Engine& e, uint32_t g, PackCandidates& c, uint32_t& pick);
// Fills gap g with best-fitting smaller files until at most MinRest clusters
// remain (17 files at most). g = 0 on return asks the walk to start again.
void FAT_Fill_Smaller(Engine& e, uint32_t& g, uint32_t& glen, uint32_t& gstart, PackCandidates& c,
                      uint32_t MinRest, bool& moved);

}  // namespace kestra::engine
