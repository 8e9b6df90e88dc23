#pragma once

// The defrag pass: fragmented files made contiguous.

#include <cstdint>
#include <vector>

#include "engine/engine_context.h"

namespace kestra::engine {

// A file to move: its first cluster when the list was built, and its record.
struct MoveCandidate {
    uint32_t key = 0;
    uint32_t index = 0;
};

// Makes fragmented movable files contiguous, largest sizes first. Returns the
// files still fragmented when every sweep ran, 0 when none was a candidate or
// the run stopped.
uint32_t FAT_Defrag(Engine& e);
// Makes each of the given files contiguous, each moved whole to the first free
// run that holds it; everything else stays where it is. The files that no free
// run could hold go to noRoom.
void FAT_Defrag_Files(Engine& e, const std::vector<uint32_t>& files, std::vector<uint32_t>& noRoom);
// Empty map boxes that still hold used clusters become Partial.
void FAT_Show_Partial_Blocks(Engine& e);
// Shell sort by key; equal keys keep their order.
void SortByStart(std::vector<MoveCandidate>& list);

// The two charts the passes refresh as they go.
void ShowGapChart(Engine& e);
void ShowFragmentChart(Engine& e);

}  // namespace kestra::engine
