#pragma once

// How fast the medium under a volume reads, writes and keeps order, measured.

#include <string>

#include "platform/sector_device.h"

namespace kestra::platform {

struct DeviceRates {
    double readBytesPerSecond = 0;
    double writeBytesPerSecond = 0;
    // Writes into the holes of a sparse image: the file system allocates as it goes.
    double fillBytesPerSecond = 0;
    double barrierSeconds = 0;  // one flush of a small write
    // What each further separate write before a barrier adds (a seek, a request).
    double writeSeconds = 0;
    // True when the write rate and barrier time are assumed, not measured: a block
    // device is never written to find out.
    bool writesAssumed = false;
};

// What is assumed of a medium that may not be written: writes at this fraction of
// the read rate, and this long a barrier.
constexpr double kAssumedWriteShare = 1.0 / 3;
constexpr double kAssumedBarrierSeconds = 0.010;

// Reads a sample spread over the volume, a fraction of a second at most.
double MeasureReadRate(SectorDevice& device);

// Writes and flushes a scratch file in `folder` (then removes it): the write rate
// and the time of one barrier on the same file system as an image there. False
// when no scratch file could be made or written.
bool MeasureWriteRates(const std::string& folder, DeviceRates& rates);

// The rates of `volume` ("PATH" or "PATH@N") read through `device`: written rates
// measured beside an image file, assumed for a block device or where nothing may
// be written.
DeviceRates MeasureDeviceRates(SectorDevice& device, const std::string& volume);

}  // namespace kestra::platform
