#pragma once

// The state one pass works on.

#include <cstdint>
#include <functional>

#include "disk/geometry.h"
#include "disk/volume_io.h"
#include "fat/volume_model.h"
#include "report/run_flags.h"

namespace kestra::fat {

// Paints one cluster on the map with a map colour code.
using PaintFn = std::function<void(uint32_t cluster, int colour)>;

// The state one pass works on: geometry, volume I/O, tables, counters and flags.
// Owned by the run context; everything below the run driver borrows it.
struct FatRun {
    disk::Geometry& geo;
    disk::VolumeIo& io;
    VolumeModel& model;
    RunCounters& counters;
    RunMode& mode;
    report::RunFlags& flags;
    PaintFn paint = [](uint32_t, int) {};
    // Lets pending window events run, so a stop is served during long walks.
    std::function<void()> letEventsRun = [] {};
};

}  // namespace kestra::fat
