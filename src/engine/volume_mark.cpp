#include "engine/volume_mark.h"

#include <array>

#include "format/boot_sector.h"
#include "format/fat_entry.h"

namespace kestra::engine {
namespace {

using format::FatType;

using Sector = std::array<uint8_t, format::kSectorSize>;

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
    const FatType type = run.geo.Type;
    const uint32_t bit = format::CleanShutdownBit(type);
    return Rewrite(run.io, at, [&](Sector& s) {
        const uint32_t entry = format::ReadFatEntry(s.data(), type, 1);
        format::WriteFatEntry(s.data(), type, 1, clean ? entry | bit : entry & ~bit);
    });
}

bool WriteBootState(fat::FatRun& run, bool dirty) {
    size_t state = 0;
    if (!BootStateByte(run, state)) return true;
    return Rewrite(run.io, 0, [&](Sector& s) {
        s[state] = static_cast<uint8_t>(dirty ? s[state] | format::kStateInUse
                                              : s[state] & ~format::kStateInUse);
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
    const uint32_t bit = format::CleanShutdownBit(run.geo.Type);
    if (run.geo.Type == FatType::Fat16 && m.Fat16Buffer.size() > 1) {
        m.Fat16Buffer[1] =
            static_cast<uint16_t>(dirty ? m.Fat16Buffer[1] & ~bit : m.Fat16Buffer[1] | bit);
    } else if (run.geo.Type == FatType::Fat32 && m.Fat.size() > 1) {
        m.Fat[1] = dirty ? m.Fat[1] & ~bit : m.Fat[1] | bit;
    }
}

}  // namespace

bool BootStateByte(const fat::FatRun& run, size_t& at) {
    return format::StateByteAt(run.geo.BootSector.data(), at);
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
