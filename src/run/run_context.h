#pragma once

// Everything one run works on, owned in one place.

#include <functional>
#include <string>
#include <vector>

#include "analysis/analysis_context.h"
#include "disk/geometry.h"
#include "disk/volume_io.h"
#include "disk/volume_lock.h"
#include "display/cluster_map.h"
#include "display/size_chart.h"
#include "engine/engine_context.h"
#include "fat/fat_run.h"
#include "platform/clock.h"
#include "platform/ui_host.h"
#include "platform/volume_catalogue.h"
#include "report/report_context.h"

namespace kestra::run {

// Everything one run works on, owned in one place and lent to the layers below:
// the host's services, the run's flags and report model, the volume, its
// geometry and model, the map and charts, and the views each layer takes of them.
struct RunContext {
    RunContext(const platform::VolumeCatalogue& catalogue, platform::UiHost& ui,
               platform::Clock& clock);
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    const platform::VolumeCatalogue& catalogue;
    platform::UiHost& ui;
    platform::Clock& clock;
    report::RunFlags flags;
    disk::VolumeIo io;
    report::ReportContext report;
    disk::Geometry geo;
    fat::VolumeModel model;
    fat::RunCounters counters;
    fat::RunMode mode;
    display::ClusterMap map;
    display::HistogramChart PicHistoE;  // gaps and candidates
    display::HistogramChart picHistoF;  // fragments
    std::vector<std::string> lstInuse;
    bool frmInuseVisible = false;

    // The run window's own state.
    std::string RunCaption;
    std::string Caption;  // as shown, with the restart count
    bool RunDone = false;

    // Files and folders to make contiguous instead of the whole volume, and how
    // many of their files the run left in pieces or did not find.
    std::vector<std::string> OnlyPaths;
    uint32_t OnlyNotWhole = 0;

    // The defragmentation driver the run hands over to; without one a
    // defragmentation request ends after the statistics.
    std::function<void(RunContext&)> defragPack;
    // Shows the run window modally; the window runs FormLoad once it is
    // visible. Without one the run happens in place.
    std::function<void(RunContext&)> openRunWindow;

    fat::FatRun run;
    disk::LockContext lock;
    analysis::Analysis analysis;
    engine::Engine engine;

    display::LegendMode Legend() const { return {mode.CheckStructure, mode.DefragMode}; }
};

}  // namespace kestra::run
