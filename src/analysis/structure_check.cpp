#include "analysis/structure_check.h"

#include <string>

namespace kestra::analysis {

void ForeignWriteTest(fat::FatRun& run) {
    if (run.io.GetLockFlagState(run.io.DriveIndex + 1) != 0) {
        run.flags.RestartRun = true;
    } else {
        run.flags.StructureErrorFlag = true;
    }
}

bool ChainCountTest(fat::FatRun& run) {
    fat::RunCounters& n = run.counters;
    // The FAT32 root is a chain without a directory entry.
    if (run.geo.IsFat32) ++n.FolderCount;
    const int64_t expected =
        int64_t{n.PlainFileCount} + int64_t{n.FolderCount} - int64_t{n.EmptyFileCount};
    if (expected == int64_t{n.ChainCount}) return true;
    if (run.mode.SharedVolume && run.io.GetLockFlagState(run.io.DriveIndex + 1) != 0) {
        run.flags.VolumeTouched = true;
    }
    if (!run.flags.VolumeTouched) {
        run.flags.AbortRun = 1;
        run.flags.RunError = true;
        run.flags.StructureErrorFlag = true;
        run.flags.ErrText =
            "Files+Dirs=" + std::to_string(expected) + " <> Chains=" + std::to_string(n.ChainCount);
    } else {
        run.flags.RestartRun = true;
    }
    return false;
}

}  // namespace kestra::analysis
