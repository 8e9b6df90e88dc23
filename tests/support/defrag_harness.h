#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "image/random_volume.h"
#include "platform/fake_device.h"
#include "support/image.h"
#include "support/test_env.h"
#include "support/tree_checks.h"

namespace kestra::testing {

// A volume to defragment: as built, and the disk it sits on when it is a partition.
struct Subject {
    const FatImage& built;
    const std::vector<uint8_t>* disk = nullptr;  // MBR disk holding the volume
    uint32_t start = 0;                          // the volume's first sector on `disk`
    bool minimal = false;                        // packed by the least-movement plan

    const std::vector<uint8_t>& Bytes() const { return disk ? *disk : built.bytes(); }
};

// A generated volume as the harness runs it.
inline Subject AsSubject(const image::RandomVolume& v, bool minimal = false) {
    return {v.built, v.disk.empty() ? nullptr : &v.disk, v.start, minimal};
}

// A power cut: writes after the `after`-th are refused. With `tornSectors`, the
// `after`-th write itself lands only in part: its first tornSectors sectors.
struct Cut {
    static constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();
    uint64_t after = kNone;
    uint32_t tornSectors = 0;
};

struct Outcome {
    std::vector<uint8_t> bytes;              // the whole disk (or volume) after the run
    std::vector<platform::Transfer> writes;  // volume sectors that landed; a torn one as landed
    std::string box;                         // the error box the run ended with, if any
    std::vector<std::string> lines;          // the status lines
    std::vector<std::vector<uint8_t>> data;  // what each write carried (uncut runs only)
    std::vector<size_t> barriers;            // writes made before each barrier

    // The run's last lines are its closing statistics.
    bool EndsWithStatistics() const;
    std::string Printed() const;
};

// Defragments and packs the subject as drive C: in this process, over a memory
// device, as `kestra-cli defrag` does.
Outcome DefragAndPack(const Subject& s, Cut cut = {});

// Writes the volume's own bytes (the partition of a disk) to `path`, for
// fsck.fat and mtools; false when the disk outside the partition was changed.
bool WriteVolume(const Subject& s, const std::vector<uint8_t>& bytes, const std::string& path);

// What a write touched, for failure messages.
std::string Where(const FatImage& img, const platform::Transfer& t);

struct CutReport {
    uint64_t cuts = 0;                 // cut volumes checked
    uint64_t reordered = 0;            // writes that shared a barrier with others
    std::string failed;                // cuts that lost or damaged something: " 12 40/1"
    std::string windows;               // cuts that left a stale ".." or an entry standing twice
    std::vector<std::string> details;  // the first few failures in full
};

// Cuts the run after every write of `whole` (an uncut run) and, for writes of
// several sectors, tears that write after half of them and after the first one
// ("40/1": write 40 torn after one sector). Between two barriers the writes may
// land in any order: each lands alone ("40<") and each is missing alone ("40~").
// Every file must read back as built; fsck.fat may find what
// FsckAtWorstLostClusters allows a cut to leave.
CutReport EveryCut(const Subject& s, const Outcome& whole, bool torn = true);

}  // namespace kestra::testing
