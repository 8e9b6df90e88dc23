#pragma once

// The exit status of a finished launch.

#include <string>

#include "report/report_context.h"
#include "run/run_context.h"
#include "tools/file_tools.h"

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

// The exit status a box of a pending error flag stands for, whatever its text
// says; kExitClean for no box and for the viewer's, which leave the status to
// how the launch ended.
int ExitStatusOf(report::ErrorBox box);
// The exit status of what a tool run came to.
int ExitStatusOf(tools::ToolOutcome outcome);

// The exit status of a finished launch, from the error box it ended with.
int ExitStatusFor(const run::RunContext& ctx);

}  // namespace kestra::app
