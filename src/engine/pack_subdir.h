#pragma once

// Folders compacted: erased entries squeezed out.

#include <cstdint>
#include <vector>

#include "engine/engine_context.h"

namespace kestra::engine {

// Squeezes the erased entries out of the folder of record Index (0 = root),
// taking the write lock itself on a shared volume.
void FAT_Pack_Subdir(Engine& e, uint32_t Index);

// The compaction of one folder's first `count` entries in place: live entries
// (long-name slots included) close up in order, the freed tail gets first byte 0.
// True when an erased entry was found before the end of the folder.
bool CompactEntries(std::vector<uint8_t>& entries, uint32_t count);

}  // namespace kestra::engine
