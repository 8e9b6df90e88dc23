#pragma once

// How long a run would take, from what a dry run counted and the medium's rates.

#include <cstdint>
#include <string>

#include "platform/device_rates.h"

namespace kestra::disk {

// What a run asks of the medium, as the volume handle counts it.
struct RunTransfers {
    uint64_t bytesRead = 0;
    uint64_t bytesWritten = 0;
    uint64_t barriers = 0;
    uint64_t holeBytesWritten = 0;  // of bytesWritten, those into holes of a sparse image
    uint64_t writes = 0;            // separate write transfers
};

struct RunEstimate {
    double processing = 0;  // the run's own work, apart from the medium
    double reading = 0;
    double writing = 0;
    double barriers = 0;
    double scattering = 0;  // the separate transfers' own cost
    double Total() const { return processing + reading + writing + barriers + scattering; }
};

// processingSeconds is what a dry run took apart from its reads; a rate that was
// not measured (0) adds nothing.
RunEstimate EstimateRun(const RunTransfers& io, const platform::DeviceRates& rates,
                        double processingSeconds);

// "0.4 s", "12 s", "3 min 05 s", "2 h 07 min".
std::string DurationText(double seconds);

}  // namespace kestra::disk
