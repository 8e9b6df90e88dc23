#pragma once

// The run loop: lock, load, check, map, then defragment.

#include "run/run_context.h"

namespace kestra::run {

// The run loop: locks the volume, loads and checks the FAT, builds the map, scans
// the folders when asked, compares files with chains, prints the statistics and
// hands over to the defragmentation driver; restarts the pass when another
// program wrote meanwhile; ends by releasing the volume.
void FormLoad(RunContext& ctx);

// "Small free Space=" and "Large free space=" from the gap list.
void FreeSpaceLines(RunContext& ctx);

// Releases the volume, reports how a stopped run ended, and marks the run done.
void FAT_End_Run(RunContext& ctx);

// Esc in the run window, or Ctrl-C in a terminal.
void Form_KeyDown(RunContext& ctx, int keyCode);
// A close request: refused while the run goes on, which then winds down.
bool Form_QueryUnload(RunContext& ctx);

}  // namespace kestra::run
