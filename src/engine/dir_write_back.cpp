#include "engine/dir_write_back.h"

#include <algorithm>
#include <cstring>

#include "disk/geometry.h"
#include "engine/volume_mark.h"
#include "fat/chains.h"
#include "format/boot_sector.h"
#include "format/dir_entry.h"

namespace kestra::engine {
namespace {

void Stop(fat::FatRun& run, const char* text) {
    run.flags.AbortRun = 1;
    run.flags.RunError = true;
    run.flags.ErrText = text;
}

bool IsDotName(const uint8_t* entry, const char* name) {
    return std::memcmp(entry, name, 11) == 0;
}

// Reads the first sector of a folder at Block; false (and "Invalid Dot entry")
// when it does not open with "." and "..": its entries then belong to files.
bool ReadDotSector(fat::FatRun& run, uint32_t Block, DirSector& entries) {
    if (Block < 2 || Block > run.counters.LastCluster) {
        Stop(run, "Invalid Dot entry");
        return false;
    }
    run.io.SetNextSector(disk::ClusterToSector(run.geo, Block));
    run.io.Watch(run.io.NextSector, 1);
    if (!run.io.ReadSectors(entries.data(), entries.size())) return false;
    if (!IsDotName(&entries[0], ".          ") ||
        !IsDotName(&entries[format::kDirEntrySize], "..         ")) {
        Stop(run, "Invalid Dot entry");
        return false;
    }
    return true;
}

// Calls fn(k) for each subfolder record k of folder JJ that has clusters. The
// entries of one folder are consecutive records.
template <typename Fn>
bool EachSubfolder(const fat::FatRun& run, uint32_t JJ, Fn fn) {
    const std::vector<fat::FileRec>& tab = run.model.FileTab;
    bool inFolder = false;
    for (size_t k = size_t{JJ} + 1; k < tab.size(); ++k) {
        if (tab[k].ParentRec != JJ) {
            if (inFolder) break;
            continue;
        }
        inFolder = true;
        if ((tab[k].Attr & format::kAttrDirectory) == 0 || tab[k].StartCluster == 0) continue;
        if (!fn(static_cast<uint32_t>(k))) return false;
    }
    return true;
}

}  // namespace

uint32_t EntryStart(const fat::FatRun& run, const uint8_t* entry) {
    return format::DirEntry(entry).StartCluster(run.geo.IsFat32);
}

void SetEntryStart(const fat::FatRun& run, uint8_t* entry, uint32_t cluster) {
    format::DirEntryWriter(entry).SetStartCluster(cluster, run.geo.IsFat32);
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
        const uint32_t perCluster = run.geo.SectorsPerCluster * format::kEntriesPerSector;
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

    Sector = base + left / format::kEntriesPerSector;
    run.io.SetNextSector(Sector);
    run.io.Watch(Sector, 1);
    return run.io.ReadSectors(entries.data(), entries.size());
}

bool EntryIsRecord(fat::FatRun& run, uint32_t JJ, const uint8_t* entry) {
    const fat::FileRec& rec = run.model.FileTab[JJ];
    if (entry[0] != format::kEndMark && entry[0] != format::kErasedMark &&
        std::memcmp(entry, rec.Name.data(), rec.Name.size()) == 0 &&
        EntryStart(run, entry) == rec.StartCluster) {
        return true;
    }
    Stop(run, "Invalid fixup subdir");
    return false;
}

bool FAT_Update_Entry(fat::FatRun& run, uint32_t JJ, uint32_t NewStart, DirSector& entries,
                      uint32_t EntryNo, int64_t Sector) {
    uint8_t* entry = &entries[format::EntryOffsetInSector(EntryNo)];
    if (!EntryIsRecord(run, JJ, entry)) return false;
    SetEntryStart(run, entry, NewStart);
    run.io.SetNextSector(Sector);
    return run.io.WriteSectorsNext(entries.data(), entries.size());
}

bool FAT_Fix_Dots(fat::FatRun& run, uint32_t /*JJ*/, uint32_t Block, uint32_t DotDotClus) {
    DirSector entries;
    if (!ReadDotSector(run, Block, entries)) return false;
    SetEntryStart(run, &entries[0], Block);
    SetEntryStart(run, &entries[format::kDirEntrySize], DotDotClus);
    run.io.SetNextSector(disk::ClusterToSector(run.geo, Block));
    return run.io.WriteSectorsNext(entries.data(), entries.size());
}

bool DotLinksReady(fat::FatRun& run, uint32_t JJ) {
    DirSector entries;
    if (!ReadDotSector(run, run.model.FileTab[JJ].StartCluster, entries)) return false;
    return EachSubfolder(run, JJ, [&](uint32_t k) {
        return ReadDotSector(run, run.model.FileTab[k].StartCluster, entries);
    });
}

void Fat_Fix_DotLinks(fat::FatRun& run, uint32_t JJ, uint32_t Block, bool ownDots) {
    const std::vector<fat::FileRec>& tab = run.model.FileTab;
    if (ownDots) {
        // ".." of a folder in the root is 0, on FAT32 too.
        const uint32_t parent = tab[JJ].ParentRec;
        const uint32_t dotDot = parent == 0 ? 0 : tab[parent].StartCluster;
        if (!FAT_Fix_Dots(run, JJ, Block, dotDot)) return;
    }
    EachSubfolder(run, JJ, [&](uint32_t k) {
        return FAT_Fix_Dots(run, k, tab[k].StartCluster, tab[JJ].StartCluster);
    });
}

namespace {

bool WriteBoot(fat::FatRun& run, int64_t at, const DirSector& boot) {
    run.io.SetNextSector(at);
    return run.io.WriteSectorsNext(boot.data(), boot.size()) && run.io.Barrier();
}

}  // namespace

bool FAT_Switch_Root(fat::FatRun& run, uint32_t NewRoot) {
    const uint32_t old = run.geo.RootCluster;
    DirSector boot;
    run.io.SetNextSector(0);
    if (!run.io.ReadSectors(boot.data(), boot.size())) return false;
    if (format::RootClusterField(boot.data()) != old) {
        Stop(run, "Invalid root cluster");
        return false;
    }
    const uint32_t backup = format::BackupBootSectorField(boot.data());
    DirSector copy;
    bool switchBackup = false;
    if (backup != 0 && backup != 0xFFFF && backup < run.geo.Boot.reservedSectors) {
        run.io.SetNextSector(backup);
        if (!run.io.ReadSectors(copy.data(), copy.size())) return false;
        // A backup that names another root is not ours to change.
        switchBackup = format::RootClusterField(copy.data()) == old;
    }
    format::SetRootClusterField(boot.data(), NewRoot);
    if (switchBackup) {
        // Two sectors cannot change at once, and fsck.fat keeps only the chain
        // sector 0 names. So sector 0 first names the new root and no backup,
        // clean: cut there, fsck.fat makes the backup from it. Then the backup,
        // then sector 0 names it again (with the run's mark).
        DirSector alone = boot;
        format::SetBackupBootSectorField(alone.data(), format::kNoBackup);
        size_t state = 0;
        if (BootStateByte(run, state)) alone[state] &= 0xFE;
        format::SetRootClusterField(copy.data(), NewRoot);
        if (!WriteBoot(run, 0, alone) || !WriteBoot(run, backup, copy)) return false;
    }
    if (!WriteBoot(run, 0, boot)) return false;
    // The run's own mark is not part of the volume it read.
    size_t state = 0;
    const bool hasState = BootStateByte(run, state);
    const uint8_t stateByte = run.geo.BootSector[state];
    std::copy(boot.begin(), boot.end(), run.geo.BootSector.begin());
    if (hasState) run.geo.BootSector[state] = stateByte;
    run.geo.Boot.rootCluster = NewRoot;
    run.geo.RootCluster = NewRoot;
    return true;
}

}  // namespace kestra::engine
