#pragma once

#include "../fat/volume_fixture.h"
#include "analysis/structure_check.h"
#include "analysis/view_map.h"
#include "fat/chains.h"
#include "fat/fat_table.h"

namespace kestra::analysis {

// A volume opened for one analysis pass, with the report model and map it draws on.
struct AnalysisFixture : fat::VolumeFixture {
    explicit AnalysisFixture(const testing::FatImage& image, bool checkStructure = true)
        : AnalysisFixture(image.bytes(), checkStructure) {}
    explicit AnalysisFixture(std::vector<uint8_t> bytes, bool checkStructure = true)
        : fat::VolumeFixture(std::move(bytes)) {
        mode.CheckStructure = checkStructure;
        map.DimensionMap(geo.ClusterCount);
        run.paint = [this](uint32_t c, int colour) { map.PaintCluster(c, colour); };
    }

    // The analysis steps of one pass: FAT load and marks, map-building pass and,
    // when it came through, the chain count test. True when nothing stopped it.
    bool Analyse() {
        if (!fat::ReadFat(run)) return false;
        fat::FAT_Marks(run);
        if (flags.AbortRun != 0) return false;
        Fat_ViewMap(analysis, loadTime, folderTime, chains);
        if (flags.RunError || !mode.CheckStructure) return !flags.RunError;
        return ChainCountTest(run);
    }

    // The record whose chain starts at a cluster; 0 when none does.
    uint32_t RecordAt(uint32_t startCluster) const {
        for (uint32_t r = 1; r <= counters.FileCount; ++r) {
            if (model.FileTab[r].StartCluster == startCluster) return r;
        }
        return 0;
    }

    // Colour of the map box that holds a cluster.
    int BoxOf(uint32_t cluster) const { return map.MapBoxes[cluster / map.MapScale]; }

    report::ReportContext report{flags, ui};
    display::ClusterMap map{ui, report.Gate()};
    platform::ManualClock clock;
    std::vector<std::string> lstInuse;
    Analysis analysis{run, report, map, clock, lstInuse};
    double loadTime = 0;
    double folderTime = 0;
    uint32_t chains = 0;
};

}  // namespace kestra::analysis
