#pragma once

// What `defrag --dry-run` says after the run: what the real run would do and how
// long it would take.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "disk/run_estimate.h"
#include "platform/overlay_device.h"
#include "run/run_context.h"

namespace kestra::cli {

struct DryRunReport {
    bool moved = false;  // the run reached its moves and ended without an error or a stop
    platform::DeviceRates rates;
    uint64_t holeBytes = 0;  // bytes the run would write into holes of a sparse image
    uint64_t writes = 0;     // separate write transfers the run would make
    disk::RunEstimate estimate;
};

// When the run reached its moves and ended well, measures the medium under `letter` and
// estimates the real run from what the dry run counted. wallSeconds is the whole
// dry run; its reads of the medium are taken out and costed at the measured rate.
DryRunReport EstimateDryRun(run::RunContext& ctx, char letter, bool moved,
                            const platform::OverlaySectors& overlay, double wallSeconds);

// "Dry run: nothing was written." and, when the run reached its moves, what the
// real run would move, write and leave, and its estimated time.
std::vector<std::string> DryRunLines(const run::RunContext& ctx, const DryRunReport& report);

// The JSON's "estimate".
nlohmann::ordered_json EstimateJson(const DryRunReport& report);

}  // namespace kestra::cli
