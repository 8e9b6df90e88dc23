#pragma once

// What the engine's passes work on.

#include "analysis/analysis_context.h"
#include "disk/volume_lock.h"
#include "display/cluster_map.h"
#include "display/size_chart.h"
#include "engine/move_batch.h"
#include "fat/fat_run.h"
#include "report/report_context.h"

namespace kestra::engine {

// What the write-back, the mover and the defrag and pack passes work on: the
// pass state, the locking protocol for each write, the report model and map
// they show progress on, and the analysis whose busy list a refused move joins.
struct Engine {
    fat::FatRun& run;
    disk::LockContext& lock;
    report::ReportContext& report;
    display::ClusterMap& map;
    analysis::Analysis& analysis;
    // The main window's charts, when there is a main window to show them.
    display::HistogramChart* PicHistoE = nullptr;  // gaps, then pack candidates
    display::HistogramChart* picHistoF = nullptr;  // fragmented files
    MoveBatch batch;                               // moves whose writes wait
};

// A failure, or a stop flagged by AbortRun alone, ends every pass's loops: a
// move that refuses at once would otherwise start a walk again for ever.
inline bool Stopped(const Engine& e) {
    return e.run.flags.RunError || e.run.flags.AbortRun != 0;
}

}  // namespace kestra::engine
