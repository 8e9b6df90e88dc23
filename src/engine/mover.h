#pragma once

// One move of a file or folder, in the safe order of writes.

#include <cstdint>
#include <string>

#include "engine/dir_write_back.h"
#include "engine/engine_context.h"
#include "fat/chains.h"

namespace kestra::engine {

// Moves record JJ (extents `ext`, Blks clusters) to the free run Block ..
// Block + Blks - 1, which the caller has taken out of the gap list. The new chain,
// the data, the entry, the dot entries and the freeing of the old chain reach the
// volume in that order, each durable before the next. True when it completed.
bool FAT_MOVE_File(Engine& e, uint32_t JJ, const fat::Extents& ext, uint32_t Blks, uint32_t Block);
// Moves record JJ as above to several free runs (target 1..n, in chain order),
// which the caller has taken out of the gap list. Exclusive runs only.
bool FAT_Move_To_Runs(Engine& e, uint32_t JJ, const fat::Extents& ext, const fat::Extents& target);
// Moves folder JJ as above with its erased entries squeezed out of the copy, so
// the compacted folder replaces the old one in the single write that switches
// its entry. False without moving when the folder does not fit the buffer.
bool FAT_Move_Compacted(Engine& e, uint32_t JJ, const fat::Extents& ext, uint32_t Blks,
                        uint32_t Block);
// The defrag pass's move: first fit anywhere. False when no gap is long enough.
bool FAT_Move_Fragmented(Engine& e, uint32_t JJ, const fat::Extents& ext);
// The pack pass's move to the front of gap I; afterwards I, Blks and Block name the
// gap that now begins at or after the old Block.
bool FAT_Moveit(Engine& e, uint32_t& I, uint32_t JJ, uint32_t& Blks, uint32_t& Block);
// On a shared volume: is the entry still the file the scan found, and is the
// target still free?
bool FAT_Verify_Move(Engine& e, uint32_t JJ, const DirSector& entries, uint32_t EntryNo,
                     const std::string& Name, uint32_t Blks, uint32_t Block);

}  // namespace kestra::engine
