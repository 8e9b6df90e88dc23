#pragma once

// The rules a directory entry must meet before anything is written.

#include <cstdint>

namespace kestra::analysis {

// The rules a directory entry must meet before anything may be written to the
// volume, as the independent checkers read them.

// An 8.3 name no checker would let stand: control characters, characters that
// no short name may hold, a blank first character.
bool BadShortName(const uint8_t* entry);

// A volume label no checker would let stand: control bytes, a leading FFh,
// characters no label may hold, a blank first character.
bool BadLabel(const uint8_t* entry);

// The "." (index 0) or ".." (index 1) entry of a folder, pointing at `cluster`.
bool IsDotEntry(const uint8_t* entry, int index, uint32_t cluster, bool fat32);

}  // namespace kestra::analysis
