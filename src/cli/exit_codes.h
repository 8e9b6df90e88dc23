#pragma once

namespace kestra::cli {

// Exit statuses of kestra-cli, one per kind of pending error.
enum ExitCode {
    kExitClean = 0,
    kExitStructure = 1,
    kExitBusy = 2,
    kExitDisk = 3,
    kExitInternal = 4,
    kExitUserStop = 5,
    kExitUsage = 64,
};

}  // namespace kestra::cli
