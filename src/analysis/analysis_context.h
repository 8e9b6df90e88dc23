#pragma once

#include <string>
#include <vector>

#include "display/cluster_map.h"
#include "fat/fat_run.h"
#include "platform/clock.h"
#include "report/report_context.h"

namespace kestra::analysis {

// What the map-building pass works with: the pass state below, and the report
// model, cluster map and clock it shows its progress with.
struct Analysis {
    fat::FatRun& run;
    report::ReportContext& report;
    display::ClusterMap& map;
    platform::Clock& clock;
    // The main window's list of files that are fixed, busy or fragmented.
    std::vector<std::string>& lstInuse;
    // Start clusters claimed by an entry this pass (and the FAT32 root's): a
    // second claim is a cross-link, and no folder is walked twice.
    std::vector<bool> claimed{};
    // Clusters on the chains the chain pass walked from their heads.
    uint64_t chainedClusters = 0;
};

// Seconds from `since` to now on the seconds-since-midnight clock.
double ElapsedSince(platform::Clock& clock, double since);

}  // namespace kestra::analysis
