#pragma once

#include <string>

#include "run/run_context.h"

namespace kestra::app {

// Exit statuses of both programs, one per kind of pending error.
enum ExitCode {
    kExitClean = 0,
    kExitStructure = 1,
    kExitBusy = 2,
    kExitDisk = 3,
    kExitInternal = 4,
    kExitUserStop = 5,
    kExitNotWhole = 6,  // defrag --only: a named file is still in pieces, or missing
    kExitUsage = 64,
};

// The exit status of a finished launch, from the error box it ended with.
int ExitStatusFor(const run::RunContext& ctx);

}  // namespace kestra::app
