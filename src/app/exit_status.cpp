#include "app/exit_status.h"

namespace kestra::app {

int ExitStatusOf(report::ErrorBox box) {
    switch (box) {
        case report::ErrorBox::Internal:
        case report::ErrorBox::NoMemory:
            return kExitInternal;
        case report::ErrorBox::Disk:
            return kExitDisk;
        case report::ErrorBox::Structure:
            return kExitStructure;
        case report::ErrorBox::Busy:
            return kExitBusy;
        case report::ErrorBox::None:
        case report::ErrorBox::Viewer:
            break;
    }
    return kExitClean;
}

int ExitStatusOf(tools::ToolOutcome outcome) {
    switch (outcome) {
        case tools::ToolOutcome::Differences:
            return kExitStructure;
        case tools::ToolOutcome::Failed:
            return kExitDisk;
        case tools::ToolOutcome::Stopped:
            return kExitUserStop;
        case tools::ToolOutcome::Clean:
            break;
    }
    return kExitClean;
}

int ExitStatusFor(const run::RunContext& ctx) {
    if (const int status = ExitStatusOf(ctx.report.Main.LastBox); status != kExitClean)
        return status;
    if (ctx.flags.CloseRequested || ctx.flags.StopRequested) return kExitUserStop;
    // A launch that stopped with a line of its own ("Unable to view", "Err=ReadBPB").
    if (!ctx.RunDone) return kExitDisk;
    return kExitClean;
}

}  // namespace kestra::app
