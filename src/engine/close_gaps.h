#pragma once

// Moving a file up out of the way so that a gap can close.

#include "engine/engine_context.h"

namespace kestra::engine {

// Closes the gaps the gap walk leaves behind: a gap whose next file is too big to
// slide into it gets that file moved up out of the way, so the gap grows until
// the files above can slide down. Stops at a fixed file, or when no free run
// above can take the file in the way.
void FAT_Close_Gaps(Engine& e);

}  // namespace kestra::engine
