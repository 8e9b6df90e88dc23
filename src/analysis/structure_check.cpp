#include "analysis/structure_check.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "format/boot_sector.h"
#include "format/fat_entry.h"
#include "report/status_lines.h"

namespace kestra::analysis {
namespace {

using format::FatType;

constexpr uint32_t kReadChunkSectors = 2048;

// A run cut short leaves its mark standing, as does an unmount that never came.
constexpr const char* kDirtyText =
    "Volume dirty: a run or mount on it was interrupted; fsck.fat -a repairs it";

// The first FAT as it was read, byte for byte, whatever the FAT type.
const uint8_t* RawFat(const fat::FatRun& run) {
    const fat::VolumeModel& m = run.model;
    switch (run.geo.Type) {
        case FatType::Fat32:
            return reinterpret_cast<const uint8_t*>(m.Fat.data());
        case FatType::Fat16:
            return reinterpret_cast<const uint8_t*>(m.Fat16Buffer.data());
        default:
            return m.Fat12Buffer.data();
    }
}

bool Dirty(const fat::FatRun& run) {
    const disk::Geometry& geo = run.geo;
    // The boot sector's state byte, where the extended boot record holds one.
    size_t state = 0;
    if (format::StateByteAt(geo.BootSector.data(), state) &&
        (geo.BootSector[state] & format::kStateInUse) != 0)
        return true;
    // The clean-shutdown bit of FAT entry 1; FAT12 has none.
    const uint32_t clean = format::CleanShutdownBit(geo.Type);
    if (geo.Type == FatType::Fat16) return (run.model.Fat16Buffer[1] & clean) == 0;
    if (geo.Type == FatType::Fat32) return (run.model.Fat[1] & clean) == 0;
    return false;
}

// FAT entry 0 holds the boot sector's media byte, every bit above it set: how
// a checker knows the FAT lies where the boot sector says.
bool MediaInFat(const fat::FatRun& run) {
    const FatType type = run.geo.Type;
    const uint32_t entry0 = format::ReadFatEntry(RawFat(run), type, 0);
    return entry0 == ((format::EndOfChainMark(type) & ~0xFFu) | run.geo.Boot.media);
}

bool CopiesDiffer(fat::FatRun& run) {
    const uint8_t* first = RawFat(run);
    const uint64_t bytes = uint64_t{run.geo.FatSectors} * format::kSectorSize;
    std::vector<uint8_t> chunk(size_t{kReadChunkSectors} * format::kSectorSize);
    for (uint32_t copy = 1; copy < run.geo.NumberOfFats; ++copy) {
        run.io.SetNextSector(run.geo.FatStartSector + int64_t{copy} * run.geo.FatSectors);
        for (uint64_t at = 0; at < bytes; at += chunk.size()) {
            const uint64_t n = std::min<uint64_t>(chunk.size(), bytes - at);
            if (!run.io.ReadSectorsNext(chunk.data(), n)) return false;
            if (std::memcmp(chunk.data(), first + at, n) != 0) return true;
        }
    }
    return false;
}

}  // namespace

void ForeignWriteTest(fat::FatRun& run) {
    if (run.io.GetLockFlagState(run.io.DriveIndex + 1) != 0) {
        run.flags.RestartRun = true;
    } else {
        run.flags.StructureErrorFlag = true;
    }
}

bool ChainCountTest(fat::FatRun& run) {
    fat::RunCounters& n = run.counters;
    // The FAT32 root is a chain without a directory entry.
    if (run.geo.IsFat32) ++n.FolderCount;
    const int64_t expected =
        int64_t{n.PlainFileCount} + int64_t{n.FolderCount} - int64_t{n.EmptyFileCount};
    if (expected == int64_t{n.ChainCount}) return true;
    if (run.mode.SharedVolume && run.io.GetLockFlagState(run.io.DriveIndex + 1) != 0) {
        run.flags.VolumeTouched = true;
    }
    if (!run.flags.VolumeTouched) {
        report::ScanStop(run.flags, "Files+Dirs=" + std::to_string(expected) +
                                        " <> Chains=" + std::to_string(n.ChainCount));
    } else {
        run.flags.RestartRun = true;
    }
    return false;
}

bool CleanShutdownTest(fat::FatRun& run) {
    if (!Dirty(run)) return true;
    report::ScanStop(run.flags, kDirtyText);
    return false;
}

bool FatSoundnessTest(fat::FatRun& run, uint64_t& allocatedClusters) {
    if (!MediaInFat(run)) {
        report::ScanStop(run.flags, "FAT does not begin with the media byte");
        return false;
    }
    // A FAT32 root is a chain; a root area besides it is read by some checkers.
    if (run.geo.IsFat32 && run.geo.RootEntryCount != 0) {
        report::ScanStop(run.flags, "Root entry count on FAT32");
        return false;
    }
    const std::vector<uint32_t>& fat = run.model.Fat;
    allocatedClusters = 0;
    for (uint32_t c = 2; c <= run.counters.LastCluster; ++c) {
        const uint32_t v = fat[c] & fat::kFatMask;
        if (v != 0 && v != fat::kFatBad) ++allocatedClusters;
        if (v >= fat::kFatReservedFirst && v < fat::kFatBad) {
            report::ScanStop(run.flags, "Bad cluster#: " + std::to_string(c));
            return false;
        }
    }
    if (CopiesDiffer(run)) {
        report::ScanStop(run.flags, "FAT copies differ");
        return false;
    }
    return !run.flags.RunError;
}

bool LostClustersTest(fat::FatRun& run, uint64_t allocated, uint64_t chainedClusters) {
    if (allocated == chainedClusters) return true;
    const uint64_t lost =
        allocated > chainedClusters ? allocated - chainedClusters : chainedClusters - allocated;
    report::ScanStop(run.flags, "Lost clusters: " + std::to_string(lost));
    return false;
}

}  // namespace kestra::analysis
