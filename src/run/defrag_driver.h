#pragma once

// The defragment-and-pack sequence and its statistics.

#include "run/run_context.h"

namespace kestra::run {

// The defragment-and-pack sequence the run hands over to, with its statistics.
void Fat_DefragPack(RunContext& ctx);
// The closing review: lists the files still fragmented; with `rebuild`, first
// paints the map again from the FAT as it now is.
void FAT_List_Fragmented(RunContext& ctx, bool rebuild);

}  // namespace kestra::run
