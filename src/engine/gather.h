#pragma once

// Gathering files no free gap can take, out of the pack's way.

#include "engine/engine_context.h"

namespace kestra::engine {

// A fragmented file that no free gap can take stays in pieces that the pack
// cannot move past. Moved whole into the lowest free clusters, in as many pieces
// as that takes, it is out of the pack's way: the pack then brings the free
// space together above it, and the defrag pass makes the file whole there.
// Only files the free space could hold once it is in one piece are gathered.
// True when a file moved.
bool FAT_Gather_Fragmented(Engine& e);

}  // namespace kestra::engine
