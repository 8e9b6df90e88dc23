#pragma once

#include "fat/fat_run.h"

namespace kestra::analysis {

// After a failed map pass: a write by another program restarts the pass,
// otherwise the failure counts as a structural error.
void ForeignWriteTest(fat::FatRun& run);

// Files plus folders, less empty files, must equal the chains in the FAT.
// True when the structure is accepted.
bool ChainCountTest(fat::FatRun& run);

}  // namespace kestra::analysis
