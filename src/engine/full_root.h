#pragma once

// Folders that stay in place on a volume whose fixed root has no entry to spare.

#include <cstdint>

#include "fat/fat_run.h"

namespace kestra::engine {

// fsck.fat -a saves lost clusters as files in the root, and on FAT12/16 gives
// up when the fixed root has no free or erased entry for them, repairing
// nothing. A cut after a folder's entry names its new copy, before its
// subfolders' ".." do, leaves lost clusters and a stale ".." together: on such
// a root every folder with subfolders is marked fixed (its pieces counted with
// the fixed ones) and never moved. Returns how many folders were kept.
uint32_t KeepFoldersOnFullRoot(fat::FatRun& run);

}  // namespace kestra::engine
