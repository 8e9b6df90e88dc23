#pragma once

// What the analysis hands the front ends: the files, their chains and why a file stays.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "display/cluster_map.h"
#include "fat/fat_run.h"
#include "platform/clock.h"
#include "report/report_context.h"

namespace kestra::analysis {

// One file as the front ends list it: its long path, length, where its chain
// lies (start cluster and length of each run) and why it stays where it is
// ("busy", "fixed"; empty when it may be moved).
struct ListedFile {
    std::string Path;
    uint32_t Size = 0;
    std::vector<std::pair<uint32_t, uint32_t>> Runs;
    std::string Mark;
};

// What the map-building pass works with: the pass state below, and the report
// model, cluster map and clock it shows its progress with.
struct Analysis {
    fat::FatRun& run;
    report::ReportContext& report;
    display::ClusterMap& map;
    platform::Clock& clock;
    // The main window's list of files that are fixed, busy or fragmented.
    std::vector<std::string>& lstInuse;
    // lstInuse item for item, as data.
    std::vector<ListedFile> inuseFiles{};
    // The files the folder scan met in pieces, in scan order; with
    // listEveryFile, every file it met.
    std::vector<ListedFile> scannedFiles{};
    bool listEveryFile = false;
    // Start clusters claimed by an entry this pass (and the FAT32 root's): a
    // second claim is a cross-link, and no folder is walked twice.
    std::vector<bool> claimed{};
    // Clusters on the chains the chain pass walked from their heads.
    uint64_t chainedClusters = 0;
};

// Seconds from `since` to now on the seconds-since-midnight clock.
double ElapsedSince(platform::Clock& clock, double since);

}  // namespace kestra::analysis
