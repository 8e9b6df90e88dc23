#pragma once

// The exit statuses of kestra-cli.

#include "app/exit_status.h"

namespace kestra::cli {

using app::kExitBusy;
using app::kExitClean;
using app::kExitDisk;
using app::kExitInternal;
using app::kExitNotWhole;
using app::kExitStructure;
using app::kExitUsage;
using app::kExitUserStop;

}  // namespace kestra::cli
