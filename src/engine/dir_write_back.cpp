#include "engine/dir_write_back.h"

#include <cstring>

#include "disk/geometry.h"
#include "fat/chains.h"

namespace kestra::engine {
namespace {

constexpr uint32_t kEntriesPerSector = 16;

void Stop(fat::FatRun& run, const char* text) {
    run.flags.AbortRun = 1;
    run.flags.RunError = true;
    run.flags.ErrText = text;
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

bool IsDotName(const uint8_t* entry, const char* name) {
    return std::memcmp(entry, name, 11) == 0;
}

}  // namespace

uint32_t EntryStart(const fat::FatRun& run, const uint8_t* entry) {
    uint32_t start = Le16(entry + 26);
    if (run.geo.IsFat32) start |= uint32_t{Le16(entry + 20)} << 16;
    return start;
}

void SetEntryStart(const fat::FatRun& run, uint8_t* entry, uint32_t cluster) {
    PutLe16(entry + 26, cluster & 0xFFFF);
    if (run.geo.IsFat32) PutLe16(entry + 20, cluster >> 16);
}

bool FAT_Read_Entry(fat::FatRun& run, uint32_t JJ, DirSector& entries, uint32_t& EntryNo,
                    int64_t& Sector) {
    const std::vector<fat::FileRec>& tab = run.model.FileTab;
    const fat::FileRec& rec = tab[JJ];
    EntryNo = rec.EntryNo;
    const uint32_t P = rec.ParentRec;
    uint32_t D = tab[P].StartCluster;
    if (run.geo.IsFat32 && D == 0) D = run.geo.RootCluster;

    uint32_t left = EntryNo;
    int64_t base = 0;
    if (D == 0) {
        if (left >= run.geo.RootEntryCount) {
            Stop(run, "Invalid fixup subdir");
            return false;
        }
        base = disk::RootDirSector(run.geo);
    } else {
        // The folder's extents bound the entry number even when it is in one piece,
        // so a stale number never reaches past the folder's last cluster.
        fat::Extents extents;
        fat::GetExtents(run, D, extents);
        if (run.flags.AbortRun != 0) return false;
        const uint32_t perCluster = run.geo.SectorsPerCluster * kEntriesPerSector;
        bool found = false;
        for (uint32_t k = 1; k <= extents.Count() && !found; ++k) {
            const uint64_t inExtent = uint64_t{extents.Lens[k]} * perCluster;
            if (left < inExtent) {
                D = extents.Starts[k];
                found = true;
            } else {
                left -= static_cast<uint32_t>(inExtent);
            }
        }
        if (!found) {
            Stop(run, "Invalid fixup subdir");
            return false;
        }
        base = disk::ClusterToSector(run.geo, D);
    }

    Sector = base + left / kEntriesPerSector;
    run.io.SetNextSector(Sector);
    return run.io.ReadSectors(entries.data(), entries.size());
}

bool FAT_Update_Entry(fat::FatRun& run, uint32_t JJ, uint32_t NewStart, DirSector& entries,
                      uint32_t EntryNo, int64_t Sector) {
    uint8_t* entry = &entries[(EntryNo & 15) * 32];
    const uint32_t oldStart = run.model.FileTab[JJ].StartCluster;
    if (Le16(entry + 26) != (oldStart & 0xFFFF) ||
        (run.geo.IsFat32 && Le16(entry + 20) != oldStart >> 16)) {
        Stop(run, "Invalid fixup subdir");
        return false;
    }
    SetEntryStart(run, entry, NewStart);
    run.io.SetNextSector(Sector);
    return run.io.WriteSectorsNext(entries.data(), entries.size());
}

bool FAT_Fix_Dots(fat::FatRun& run, uint32_t /*JJ*/, uint32_t Block, uint32_t DotDotClus) {
    if (Block < 2 || Block > run.counters.LastCluster) {
        Stop(run, "Invalid Dot entry");
        return false;
    }
    DirSector entries;
    run.io.SetNextSector(disk::ClusterToSector(run.geo, Block));
    if (!run.io.ReadSectors(entries.data(), entries.size())) return false;
    // A sector that does not open with "." and ".." is not this folder's; its
    // entries belong to files and must not be rewritten.
    if (!IsDotName(&entries[0], ".          ") || !IsDotName(&entries[32], "..         ")) {
        Stop(run, "Invalid Dot entry");
        return false;
    }
    SetEntryStart(run, &entries[0], Block);
    SetEntryStart(run, &entries[32], DotDotClus);
    run.io.SetNextSector(disk::ClusterToSector(run.geo, Block));
    return run.io.WriteSectorsNext(entries.data(), entries.size());
}

void Fat_Fix_DotLinks(fat::FatRun& run, uint32_t JJ, uint32_t Block, bool ownDots) {
    const std::vector<fat::FileRec>& tab = run.model.FileTab;
    if (ownDots) {
        // ".." of a folder in the root is 0, on FAT32 too.
        const uint32_t parent = tab[JJ].ParentRec;
        const uint32_t dotDot = parent == 0 ? 0 : tab[parent].StartCluster;
        FAT_Fix_Dots(run, JJ, Block, dotDot);
        if (run.flags.AbortRun != 0) return;
    }

    // The entries of one folder are consecutive records.
    bool inFolder = false;
    for (size_t k = size_t{JJ} + 1; k < tab.size(); ++k) {
        if (tab[k].ParentRec != JJ) {
            if (inFolder) break;
            continue;
        }
        inFolder = true;
        // A folder entry without a cluster has no dot entries to fix.
        if ((tab[k].Attr & fat::kAttrFolder) == 0 || tab[k].StartCluster == 0) continue;
        FAT_Fix_Dots(run, static_cast<uint32_t>(k), tab[k].StartCluster, tab[JJ].StartCluster);
        if (run.flags.AbortRun != 0) return;
    }
}

}  // namespace kestra::engine
