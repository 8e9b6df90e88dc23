#include "engine/volume_mark.h"

#include <array>

namespace kestra::engine {
namespace {

using platform::FatType;

constexpr uint8_t kStateDirty = 0x01;
constexpr uint16_t kFat16Clean = 0x8000;
constexpr uint32_t kFat32Clean = 0x08000000;

using Sector = std::array<uint8_t, 512>;

// Reads sector `at`, lets `change` edit it and writes it back behind a barrier.
template <typename Fn>
bool Rewrite(disk::VolumeIo& io, int64_t at, Fn change) {
    Sector s{};
    io.SetNextSector(at);
    if (!io.ReadSectors(s.data(), s.size())) return false;
    change(s);
    io.SetNextSector(at);
    return io.WriteSectorsNext(s.data(), s.size()) && io.Barrier();
}

bool HasCleanBit(const fat::FatRun& run) {
    return run.geo.Type == FatType::Fat16 || run.geo.Type == FatType::Fat32;
}

// FAT entry 1 of one copy, on the medium, with the clean bit set or not.
bool WriteFatEntry1(fat::FatRun& run, uint32_t copy, bool clean) {
    const int64_t at = run.geo.FatStartSector + int64_t{copy} * run.geo.FatSectors;
    return Rewrite(run.io, at, [&](Sector& s) {
        if (run.geo.Type == FatType::Fat16) {
            s[3] = static_cast<uint8_t>(clean ? s[3] | (kFat16Clean >> 8)
                                              : s[3] & ~(kFat16Clean >> 8));
        } else {
            s[7] = static_cast<uint8_t>(clean ? s[7] | (kFat32Clean >> 24)
                                              : s[7] & ~(kFat32Clean >> 24));
        }
    });
}

bool WriteBootState(fat::FatRun& run, bool dirty) {
    size_t state = 0;
    if (!BootStateByte(run, state)) return true;
    return Rewrite(run.io, 0, [&](Sector& s) {
        s[state] = static_cast<uint8_t>(dirty ? s[state] | kStateDirty : s[state] & ~kStateDirty);
    });
}

// The boot sector first, then the FAT copies in order: a cut between them
// leaves the first place the check looks at marked.
bool Mark(fat::FatRun& run) {
    if (!WriteBootState(run, true)) return false;
    for (uint32_t copy = 0; HasCleanBit(run) && copy < run.geo.NumberOfFats; ++copy) {
        if (!WriteFatEntry1(run, copy, false)) return false;
    }
    return true;
}

// The reverse order: the first FAT copy and the boot sector stay marked until
// everything else is clean.
bool Clear(fat::FatRun& run) {
    for (uint32_t copy = run.geo.NumberOfFats; HasCleanBit(run) && copy-- > 0;) {
        if (!WriteFatEntry1(run, copy, true)) return false;
    }
    return WriteBootState(run, false);
}

// The engine writes FAT sectors from memory: entry 1 there carries the mark too.
void MarkInMemory(fat::FatRun& run, bool dirty) {
    fat::VolumeModel& m = run.model;
    if (run.geo.Type == FatType::Fat16 && m.Fat16Buffer.size() > 1) {
        m.Fat16Buffer[1] = static_cast<uint16_t>(dirty ? m.Fat16Buffer[1] & ~kFat16Clean
                                                       : m.Fat16Buffer[1] | kFat16Clean);
    } else if (run.geo.Type == FatType::Fat32 && m.Fat.size() > 1) {
        m.Fat[1] = dirty ? m.Fat[1] & ~kFat32Clean : m.Fat[1] | kFat32Clean;
    }
}

}  // namespace

bool BootStateByte(const fat::FatRun& run, size_t& at) {
    const size_t state = run.geo.IsFat32 ? 65 : 37;
    const uint8_t signature = run.geo.BootSector[state + 1];
    at = state;
    return signature == 0x29 || signature == 0x28;
}

void ArmInUseMark(fat::FatRun& run) {
    disk::VolumeIo& io = run.io;
    MarkInMemory(run, true);
    io.BeforeFirstWrite = [&run] {
        if (!Mark(run)) return false;
        // A run stopped by a failed transfer may have left the volume half way
        // through a step: it stays marked for fsck.fat to look at.
        run.io.AfterLastWrite = [&run] {
            MarkInMemory(run, false);
            if (!run.flags.DiskErrorFlag && !run.io.HasHeldWrites()) Clear(run);
        };
        return true;
    };
}

}  // namespace kestra::engine
