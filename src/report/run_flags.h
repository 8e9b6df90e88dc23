#pragma once

// The flags and texts with which a run reports how it went.

#include <string>

namespace kestra::report {

// The flags and texts with which every subsystem of a run reports how it went.
// A failing step sets them and returns; loops test AbortRun and RunError.
struct RunFlags {
    int AbortRun = 0;  // nonzero: every loop stops at its next test
    bool RunError = false;
    std::string ErrText;
    std::string ErrSource;

    // Pending error flags, read and cleared by the error check after a run.
    bool DiskErrorFlag = false;
    bool StructureErrorFlag = false;
    bool DriveBusyFlag = false;
    bool InternalErrorFlag = false;
    bool NoMemoryFlag = false;

    bool RestartRun = false;      // another program wrote: the pass starts again
    bool VolumeTouched = false;   // the lock flag state showed a foreign write
    bool StopRequested = false;   // Esc
    bool CloseRequested = false;  // the run window is being closed

    // While the write locks are held no window events run and painting waits.
    bool DropLocksFlag = false;
    bool PaintDeferred = false;
};

}  // namespace kestra::report
