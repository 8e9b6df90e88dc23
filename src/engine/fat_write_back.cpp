#include "engine/fat_write_back.h"

#include <algorithm>
#include <array>
#include <vector>

#include "fat/fat_table.h"
#include "fat/free_gaps.h"
#include "format/boot_sector.h"
#include "format/fat_entry.h"

namespace kestra::engine {
namespace {

using format::FatType;

using format::kSectorSize;
constexpr uint32_t kTopBits = 0xF0000000;

// The FAT sectors that hold a cluster run, relative to the start of a copy, and
// where those sectors sit in the memory image of the FAT type.
struct Cover {
    uint32_t first = 0;  // first sector
    uint32_t count = 0;  // sectors
    uint8_t* image = nullptr;
};

bool CoverOf(fat::FatRun& run, uint32_t Block, uint32_t Blks, Cover& cover) {
    fat::VolumeModel& m = run.model;
    const uint64_t last = uint64_t{Block} + Blks - 1;
    uint64_t firstByte = 0;
    uint64_t lastByte = 0;
    uint8_t* image = nullptr;
    size_t imageBytes = 0;
    switch (run.geo.Type) {
        case FatType::Fat32:
            firstByte = uint64_t{Block} * 4;
            lastByte = last * 4 + 3;
            image = reinterpret_cast<uint8_t*>(m.Fat.data());
            imageBytes = m.Fat.size() * 4;
            break;
        case FatType::Fat16:
            firstByte = uint64_t{Block} * 2;
            lastByte = last * 2 + 1;
            image = reinterpret_cast<uint8_t*>(m.Fat16Buffer.data());
            imageBytes = m.Fat16Buffer.size() * 2;
            break;
        default:
            // Entry n of the packed layout takes bytes n + n \ 2 and the one after
            // it, so an entry can straddle two sectors.
            firstByte = uint64_t{Block} + Block / 2;
            lastByte = last + last / 2 + 1;
            image = m.Fat12Buffer.data();
            imageBytes = m.Fat12Buffer.size();
            break;
    }
    cover.first = static_cast<uint32_t>(firstByte / kSectorSize);
    cover.count = static_cast<uint32_t>(lastByte / kSectorSize - cover.first + 1);
    cover.image = image + size_t{cover.first} * kSectorSize;
    // Never write or read past the FAT or past the memory image.
    const uint64_t end = uint64_t{cover.first} + cover.count;
    if (Blks == 0 || Block < 2 || end > run.geo.FatSectors || end * kSectorSize > imageBytes) {
        run.flags.AbortRun = 1;
        run.flags.RunError = true;
        run.flags.ErrText = "Invalid cluster";
        return false;
    }
    return true;
}

}  // namespace

bool Synch_Fat1(fat::FatRun& run, uint32_t Block, uint32_t Blks) {
    return Synch_Fat1(run, fat::Extents::OneRun(Block, Blks));
}

bool Mark_New_Chain(fat::FatRun& run, const fat::Extents& target) {
    std::vector<uint32_t>& fat = run.model.Fat;
    const uint32_t n = target.Count();
    // A chain marked only in part would reach the volume with the next write of
    // these sectors; keep the entries to put them back.
    std::vector<std::vector<uint32_t>> before(n + 1);
    for (uint32_t k = 1; k <= n; ++k) {
        const size_t from = std::min<size_t>(target.Starts[k], fat.size());
        const size_t to = std::min<size_t>(size_t{target.Starts[k]} + target.Lens[k], fat.size());
        before[k].assign(fat.begin() + from, fat.begin() + to);
    }
    for (uint32_t k = 1; k <= n && run.flags.AbortRun == 0; ++k) {
        fat::FAT_Mark_Chain(run, target.Lens[k], target.Starts[k]);
        // Each run links on to the next; the last keeps its end mark.
        const uint32_t tail = target.Starts[k] + target.Lens[k] - 1;
        if (k < n && run.flags.AbortRun == 0)
            fat[tail] = (fat[tail] & kTopBits) | target.Starts[k + 1];
    }
    if (run.flags.AbortRun == 0) return true;
    for (uint32_t k = 1; k <= n; ++k) {
        std::copy(before[k].begin(), before[k].end(),
                  fat.begin() + std::min<size_t>(target.Starts[k], fat.size()));
    }
    return false;
}

bool Synch_Fat1(fat::FatRun& run, const fat::Extents& target) {
    if (!Mark_New_Chain(run, target)) return false;
    for (uint32_t k = 1; k <= target.Count(); ++k) {
        if (!Synch_Mem_To_Fat(run, target.Starts[k], target.Lens[k])) return false;
    }
    return true;
}

bool Write_Fat_Runs(fat::FatRun& run, std::vector<std::pair<uint32_t, uint32_t>> runs) {
    if (runs.empty()) return true;
    std::sort(runs.begin(), runs.end());
    // Sector ranges [first, end) of copy 1, merged where they touch.
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    uint8_t* image = nullptr;
    for (const auto& [block, blks] : runs) {
        Cover cover;
        if (!CoverOf(run, block, blks, cover)) return false;
        const uint32_t last = block + blks - 1;
        if (run.geo.Type == FatType::Fat16) FatToBuffer16(run.model, block, last);
        if (run.geo.Type == FatType::Fat12) FatToBuffer12(run.model, block, last);
        image = cover.image - size_t{cover.first} * kSectorSize;
        if (!ranges.empty() && cover.first <= ranges.back().second) {
            ranges.back().second = std::max(ranges.back().second, cover.first + cover.count);
        } else {
            ranges.emplace_back(cover.first, cover.first + cover.count);
        }
    }
    for (uint32_t copy = 0; copy < std::max<uint32_t>(run.geo.NumberOfFats, 1); ++copy) {
        for (const auto& [first, end] : ranges) {
            run.io.SetNextSector(run.geo.FatStartSector + int64_t{copy} * run.geo.FatSectors +
                                 first);
            if (!run.io.WriteSectorsNext(image + size_t{first} * kSectorSize,
                                         uint64_t{end - first} * kSectorSize))
                return false;
        }
    }
    return true;
}

bool Synch_Fat2(fat::FatRun& run, const fat::Extents& extents) {
    const uint32_t n = extents.Count();
    for (uint32_t k = 1; k <= n; ++k) {
        if (!Synch_Fat_To_Mem(run, extents.Starts[k], extents.Lens[k])) return false;
    }
    for (uint32_t k = 1; k <= n; ++k)
        Clear_FAT(run, extents.Starts[k], extents.Lens[k]);
    // A failed write has stopped the run; what is not freed yet stays lost clusters.
    for (uint32_t k = 1; k <= n; ++k) {
        if (!Synch_Mem_To_Fat(run, extents.Starts[k], extents.Lens[k])) return false;
    }
    return true;
}

bool Synch_Mem_To_Fat(fat::FatRun& run, uint32_t Block, uint32_t Blks) {
    return Write_Fat_Runs(run, {{Block, Blks}});
}

bool Synch_Fat_To_Mem(fat::FatRun& run, uint32_t Block, uint32_t Blks) {
    Cover cover;
    if (!CoverOf(run, Block, Blks, cover)) return false;
    // Read aside first: a failed read must not leave half a sector in the tables.
    std::vector<uint8_t> sectors(size_t{cover.count} * kSectorSize);
    run.io.SetNextSector(run.geo.FatStartSector + cover.first);
    if (!run.io.ReadSectorsNext(sectors.data(), sectors.size())) return false;
    std::copy(sectors.begin(), sectors.end(), cover.image);

    const uint32_t last = Block + Blks - 1;
    const uint32_t lastCluster = run.geo.ClusterCount + 1;
    if (run.geo.Type == FatType::Fat16) BufferToFat16(run.model, Block, last, lastCluster);
    if (run.geo.Type == FatType::Fat12) BufferToFat12(run.model, Block, last, lastCluster);
    return true;
}

bool Synch_FsInfo(fat::FatRun& run) {
    if (!run.geo.IsFat32) return true;
    const fat::VolumeModel& m = run.model;
    const auto freeCount =
        static_cast<uint32_t>(fat::FreeSpaceSectors(run) / run.geo.SectorsPerCluster);
    uint32_t nextFree = 0xFFFFFFFF;
    for (uint32_t g = 1; g <= m.GapCount && nextFree == 0xFFFFFFFF; ++g) {
        if (m.GapLen[g] != 0) nextFree = m.GapStart[g];
    }
    const uint32_t info = run.geo.Boot.fsInfoSector;
    const uint32_t backup = run.geo.Boot.backupBootSector;
    const bool noBackup = backup == format::kNoBackup || backup == format::kNoBackupToo;
    for (const uint32_t sector : {info, noBackup ? 0 : backup + info}) {
        if (sector == 0 || sector >= run.geo.Boot.reservedSectors) continue;
        std::array<uint8_t, kSectorSize> s{};
        run.io.SetNextSector(sector);
        if (!run.io.ReadSectors(s.data(), s.size())) return false;
        if (!format::IsFsInfo(s.data())) continue;
        if (format::FsInfoFreeCount(s.data()) == freeCount &&
            format::FsInfoNextFree(s.data()) == nextFree)
            continue;
        format::SetFsInfoCounts(s.data(), freeCount, nextFree);
        run.io.SetNextSector(sector);
        if (!run.io.WriteSectorsNext(s.data(), s.size())) return false;
    }
    return true;
}

void Clear_FAT(fat::FatRun& run, uint32_t Temp_Block, uint32_t Temp_Len) {
    std::vector<uint32_t>& fat = run.model.Fat;
    for (uint64_t c = Temp_Block; c < uint64_t{Temp_Block} + Temp_Len && c < fat.size(); ++c)
        fat[c] &= kTopBits;
}

void FatToBuffer16(fat::VolumeModel& model, uint32_t First, uint32_t Last) {
    // End-of-chain, bad and reserved marks keep their low 16 bits (FFF0h .. FFFFh),
    // as does every link.
    auto* bytes = reinterpret_cast<uint8_t*>(model.Fat16Buffer.data());
    for (uint64_t c = First; c <= Last && c < model.Fat16Buffer.size(); ++c)
        format::WriteFatEntry(bytes, FatType::Fat16, static_cast<uint32_t>(c), model.Fat[c]);
}

void BufferToFat16(fat::VolumeModel& model, uint32_t First, uint32_t Last, uint32_t LastCluster) {
    for (uint64_t c = First; c <= Last && c < model.Fat16Buffer.size(); ++c)
        model.Fat[c] = fat::WidenFat16(fat::Fat16Entry(model.Fat16Buffer, static_cast<uint32_t>(c)),
                                       LastCluster);
}

void FatToBuffer12(fat::VolumeModel& model, uint32_t First, uint32_t Last) {
    std::vector<uint8_t>& b = model.Fat12Buffer;
    for (uint64_t c = First; c <= Last && c < model.Fat.size(); ++c) {
        const auto n = static_cast<uint32_t>(c);
        if (format::FatEntryOffset(FatType::Fat12, n) + 1 >= b.size()) return;
        format::WriteFatEntry(b.data(), FatType::Fat12, n, model.Fat[c]);
    }
}

void BufferToFat12(fat::VolumeModel& model, uint32_t First, uint32_t Last, uint32_t LastCluster) {
    for (uint64_t c = First; c <= Last && c < model.Fat.size(); ++c) {
        if (c + c / 2 + 1 >= model.Fat12Buffer.size()) return;
        model.Fat[c] = fat::WidenFat12(fat::Fat12Entry(model.Fat12Buffer, static_cast<uint32_t>(c)),
                                       LastCluster);
    }
}

}  // namespace kestra::engine
