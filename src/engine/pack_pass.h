#pragma once

#include <cstdint>
#include <vector>

#include "engine/defrag_pass.h"
#include "engine/engine_context.h"

namespace kestra::engine {

// Fills the free gaps from the start of the volume with files that lie above
// them: one of the gap's exact size, else the file right after it (sliding it
// down), else the largest files that fit.
void FAT_RemoveHoles(Engine& e);
// Compacts every folder that holds erased entries.
void FAT_Pack_Dirs(Engine& e);

}  // namespace kestra::engine
