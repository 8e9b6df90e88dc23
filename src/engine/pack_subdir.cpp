#include "engine/pack_subdir.h"

#include <algorithm>
#include <cstring>

#include "disk/geometry.h"
#include "disk/volume_lock.h"
#include "engine/move_batch.h"
#include "engine/mover.h"
#include "fat/chains.h"
#include "fat/free_gaps.h"
#include "format/sector_size.h"

namespace kestra::engine {
namespace {

constexpr uint32_t kSectorBytes = format::kSectorSize;
constexpr uint32_t kEntryBytes = 32;

// Where a folder's entries lie on the volume.
struct FolderPlace {
    int64_t sector = 0;
    uint32_t sectors = 0;
    uint32_t entries = 0;
};

// False when the folder is not to be packed (in pieces, or the run stopped).
bool Locate(fat::FatRun& run, uint32_t Index, FolderPlace& place) {
    if (run.flags.AbortRun != 0) return false;
    if (Index == 0 && !run.geo.IsFat32) {
        // The whole fixed root, its last sector too when the entry count does not
        // fill it; only the root's own entries are compacted.
        place.sector = disk::RootDirSector(run.geo);
        place.sectors = disk::RootDirSectors(run.geo);
        place.entries = run.geo.RootEntryCount;
        return place.sectors > 0;
    }
    const uint32_t first = Index == 0 ? run.geo.RootCluster : run.model.FileTab[Index].StartCluster;
    int64_t n = 0;
    const int frags = fat::Fragmented(run, first, n);
    if (frags != 1 || run.flags.AbortRun != 0) return false;
    place.sector = disk::ClusterToSector(run.geo, first);
    place.sectors = static_cast<uint32_t>(n) * run.geo.SectorsPerCluster;
    place.entries = place.sectors * (kSectorBytes / kEntryBytes);
    return true;
}

}  // namespace

bool CompactEntries(std::vector<uint8_t>& entries, uint32_t count) {
    int64_t hole = -1;
    for (uint32_t e = 0; e < count; ++e) {
        const uint8_t b = entries[size_t{e} * kEntryBytes];
        if (b == format::kErasedMark) {
            if (hole < 0) hole = e;
        } else if (b == 0) {
            break;
        } else if (hole >= 0) {
            std::memcpy(&entries[size_t(hole) * kEntryBytes], &entries[size_t{e} * kEntryBytes],
                        kEntryBytes);
            ++hole;
        }
    }
    if (hole < 0) return false;
    for (uint32_t e = static_cast<uint32_t>(hole); e < count; ++e)
        entries[size_t{e} * kEntryBytes] = 0;
    return true;
}

namespace {

constexpr uint32_t kEntriesPerSector = kSectorBytes / kEntryBytes;

bool Live(const std::vector<uint8_t>& entries, uint32_t e) {
    const uint8_t b = entries[size_t{e} * kEntryBytes];
    return b != 0 && b != format::kErasedMark;
}

// Where each live entry lands when the erased ones are squeezed out; true when
// one of them would change sectors.
bool CrossesSectors(const std::vector<uint8_t>& entries, uint32_t count,
                    std::vector<uint32_t>& newPos) {
    newPos.assign(count, 0);
    bool crosses = false;
    uint32_t next = 0;
    for (uint32_t e = 0; e < count; ++e) {
        const uint8_t b = entries[size_t{e} * kEntryBytes];
        if (b == 0) break;
        if (b == format::kErasedMark) continue;
        newPos[e] = next;
        crosses = crosses || next / kEntriesPerSector != e / kEntriesPerSector;
        ++next;
    }
    return crosses;
}

// The first of the long-name slots that end a full sector: their set goes on
// in the next sector, so they keep their place at its end.
uint32_t TiedTail(const std::vector<uint8_t>& entries, uint32_t first, uint32_t stop) {
    if (stop - first != kEntriesPerSector) return stop;
    uint32_t tail = stop;
    while (tail > first && Live(entries, tail - 1) &&
           entries[size_t{tail - 1} * kEntryBytes + 11] == format::kAttrLongName) {
        --tail;
    }
    return tail;
}

// A compaction in which no entry changes sectors: each sector closes up its own
// live entries, so every sector, whether rewritten or not, holds each entry
// once and every long-name set whole, whatever the order the writes land in.
// Slots freed before the folder's last entry are erased, those after it end
// the folder. True when an erased entry was found before the end.
bool CompactWithinSectors(std::vector<uint8_t>& entries, uint32_t count,
                          std::vector<uint32_t>& newPos) {
    newPos.assign(count, 0);
    uint32_t end = 0;
    while (end < count && entries[size_t{end} * kEntryBytes] != 0)
        ++end;
    bool erased = false;
    uint32_t last = 0;  // one past the last live entry, where it lands
    for (uint32_t first = 0; first < end; first += kEntriesPerSector) {
        const uint32_t stop = std::min(end, first + kEntriesPerSector);
        const uint32_t tail = TiedTail(entries, first, stop);
        uint32_t next = first;
        for (uint32_t e = first; e < stop; ++e) {
            if (!Live(entries, e)) {
                erased = true;
                continue;
            }
            const uint32_t to = e >= tail ? e : next;
            if (to != e) {
                std::memcpy(&entries[size_t{to} * kEntryBytes], &entries[size_t{e} * kEntryBytes],
                            kEntryBytes);
                entries[size_t{e} * kEntryBytes] = format::kErasedMark;
            }
            newPos[e] = to;
            next = to + 1;
            last = to + 1;
        }
    }
    if (!erased) return false;
    for (uint32_t e = last; e < count; ++e)
        entries[size_t{e} * kEntryBytes] = 0;
    return true;
}

// The folder's entries now stand where the compaction put them; every later
// move finds its entry through these numbers.
void Renumber(fat::FatRun& run, uint32_t Index, const std::vector<uint32_t>& newPos) {
    std::vector<fat::FileRec>& tab = run.model.FileTab;
    for (size_t k = 1; k < tab.size(); ++k) {
        if (tab[k].ParentRec == Index && tab[k].EntryNo < newPos.size()) {
            tab[k].EntryNo = newPos[tab[k].EntryNo];
        }
    }
}

void MoveCompacted(Engine& e, uint32_t Index, const FolderPlace& place,
                   const std::vector<uint32_t>& newPos) {
    fat::FatRun& run = e.run;
    const uint32_t clusters = place.sectors / run.geo.SectorsPerCluster;
    // Without room for the copy, or a buffer to hold it, or fixed, the folder
    // stays as it is.
    if (uint64_t{place.sectors} * kSectorBytes > fat::kMoveBufferBytes) return;
    if (run.model.FileFixed[Index] != 0) return;
    uint32_t block = 0;
    if (!fat::FAT_Allocate(run, clusters, block, 0)) return;
    fat::Extents ext;
    fat::GetExtents(run, run.model.FileTab[Index].StartCluster, ext);
    if (run.flags.AbortRun != 0 || !FAT_Move_Compacted(e, Index, ext, clusters, block)) return;
    Renumber(run, Index, newPos);
}

bool ReadFolder(fat::FatRun& run, const FolderPlace& place, std::vector<uint8_t>& before) {
    before.resize(size_t{place.sectors} * kSectorBytes);
    run.io.SetNextSector(place.sector);
    run.io.Watch(place.sector, place.sectors);
    return run.io.ReadSectors(before.data(), before.size());
}

void InvalidDotEntry(report::RunFlags& flags) {
    flags.AbortRun = 1;
    flags.RunError = true;
    flags.ErrText = "Invalid Dot entry";
}

// Sector by sector, each write on the medium before the next. Sectors that did
// not change are not written. True when every changed sector was written.
bool WriteChangedSectors(fat::FatRun& run, const FolderPlace& place,
                         const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
    bool written = true;
    for (uint32_t s = 0; s < place.sectors && written; ++s) {
        const size_t at = size_t{s} * kSectorBytes;
        if (std::memcmp(&before[at], &after[at], kSectorBytes) == 0) continue;
        run.io.SetNextSector(place.sector + s);
        written = run.io.WriteSectorsNext(&after[at], kSectorBytes) && run.io.Barrier();
    }
    return written;
}

// What is left to do once the write locks are dropped.
enum class Then { Nothing, InvalidDot, MoveCompacted };

// The steps under the write locks: find the folder, read it, and close it up in
// place where no entry changes sectors.
Then PackLocked(fat::FatRun& run, uint32_t Index, FolderPlace& place,
                std::vector<uint32_t>& newPos) {
    if (!Locate(run, Index, place)) return Then::Nothing;
    std::vector<uint8_t> before;
    if (!ReadFolder(run, place, before)) return Then::Nothing;
    if (Index != 0 && before[0] != '.') return Then::InvalidDot;

    // An entry that moves into an earlier sector stands in both for a moment if
    // the folder is rewritten in place. A folder with a chain of its own is then
    // written compacted to a new place instead, and its entry switched to it in
    // one write. The roots stay in place: the FAT32 root is left as it is then,
    // the fixed root of FAT12/16 (whose size no compaction changes) is closed
    // up within each sector.
    const bool crosses = CrossesSectors(before, place.entries, newPos);
    if (Index != 0 && crosses) return Then::MoveCompacted;
    if (crosses && run.geo.IsFat32) return Then::Nothing;
    std::vector<uint8_t> after = before;
    CompactWithinSectors(after, place.entries, newPos);
    if (WriteChangedSectors(run, place, before, after)) Renumber(run, Index, newPos);
    return Then::Nothing;
}

}  // namespace

void FAT_Pack_Subdir(Engine& e, uint32_t Index) {
    fat::FatRun& run = e.run;
    // Rewritten in place, the folder's sectors go straight to the medium.
    if (!FlushMoves(e)) return;
    if (!run.io.Level0Lock && !disk::LockLevel3(e.lock, false)) return;
    // Another program wrote: the folder stays as it is. A shared run still
    // drops the locks it just took, in the hold below.
    if (run.io.Level0Lock && run.flags.VolumeTouched) return;

    FolderPlace place;
    std::vector<uint32_t> newPos;
    Then then = Then::Nothing;
    {
        const disk::WriteLockHold hold(e.lock, true);
        if (!run.flags.VolumeTouched) then = PackLocked(run, Index, place, newPos);
    }
    if (then == Then::InvalidDot) InvalidDotEntry(run.flags);
    if (then == Then::MoveCompacted) MoveCompacted(e, Index, place, newPos);
}

}  // namespace kestra::engine
