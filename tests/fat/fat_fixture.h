#pragma once

#include "fat/fat_run.h"

namespace kestra::fat {

// What one pass works on, owned by a test.
struct PassState {
    platform::VolumeCatalogue catalogue;
    platform::QuietUiHost ui;
    report::RunFlags flags;
    disk::VolumeIo io{catalogue, ui, flags};
    disk::Geometry geo;
    VolumeModel model;
    RunCounters counters;
    RunMode mode;
    FatRun run{geo, io, model, counters, mode, flags};
};

// A pass's state around a FAT held only in memory.
struct FatFixture : PassState {
    explicit FatFixture(uint32_t clusters) {
        geo.ClusterCount = clusters;
        geo.SectorsPerCluster = 4;
        geo.BigFileClusters = 256;
        counters.LastCluster = clusters + 1;
        model.Fat.assign(size_t{clusters} + 2, 0);
    }
    // Links the listed clusters into one chain ending in an end mark.
    void Chain(std::initializer_list<uint32_t> clusters) {
        const uint32_t* c = clusters.begin();
        for (; c + 1 != clusters.end(); ++c)
            model.Fat[*c] = *(c + 1);
        model.Fat[*c] = kFatEnd;
    }
    void Run(uint32_t start, uint32_t length) {
        for (uint32_t c = start; c + 1 < start + length; ++c)
            model.Fat[c] = c + 1;
        model.Fat[start + length - 1] = kFatEnd;
    }
};

}  // namespace kestra::fat
