#include "disk/run_estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestra::disk {
namespace {

double Over(uint64_t amount, double perSecond) {
    return perSecond > 0 ? static_cast<double>(amount) / perSecond : 0;
}

}  // namespace

RunEstimate EstimateRun(const RunTransfers& io, const platform::DeviceRates& rates,
                        double processingSeconds) {
    RunEstimate e;
    e.processing = std::max(processingSeconds, 0.0);
    e.reading = Over(io.bytesRead, rates.readBytesPerSecond);
    const uint64_t holes = std::min(io.holeBytesWritten, io.bytesWritten);
    const double fill =
        rates.fillBytesPerSecond > 0 ? rates.fillBytesPerSecond : rates.writeBytesPerSecond;
    e.writing = Over(io.bytesWritten - holes, rates.writeBytesPerSecond) + Over(holes, fill);
    e.barriers = static_cast<double>(io.barriers) * std::max(rates.barrierSeconds, 0.0);
    e.scattering = static_cast<double>(io.writes) * std::max(rates.writeSeconds, 0.0);
    return e;
}

std::string DurationText(double seconds) {
    char text[48];
    seconds = std::max(seconds, 0.0);
    if (seconds < 10) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else if (seconds < 60) {
        std::snprintf(text, sizeof text, "%.0f s", seconds);
    } else if (seconds < 3600) {
        const long s = std::lround(seconds);
        std::snprintf(text, sizeof text, "%ld min %02ld s", s / 60, s % 60);
    } else {
        const long m = std::lround(seconds / 60);
        std::snprintf(text, sizeof text, "%ld h %02ld min", m / 60, m % 60);
    }
    return text;
}

}  // namespace kestra::disk
