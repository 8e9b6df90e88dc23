#include "engine/mover.h"

#include <algorithm>
#include <cstring>

#include "analysis/folder_scan.h"
#include "disk/geometry.h"
#include "engine/fat_write_back.h"
#include "engine/move_batch.h"
#include "engine/pack_subdir.h"
#include "fat/free_gaps.h"
#include "format/dir_entry.h"
#include "format/sector_size.h"
#include "report/run_status.h"
#include "report/status_lines.h"

namespace kestra::engine {
namespace {

constexpr uint64_t kMoveBufferBytes = fat::kMoveBufferBytes;
using format::kSectorSize;

void Paint(Engine& e, const fat::Extents& ext, int colour) {
    e.map.FAT_Redraw_XXXX(ext.Lens, ext.Starts, colour);
}

int OwnColour(const Engine& e, uint32_t JJ, uint32_t Blks) {
    if (e.run.model.FileTab[JJ].Frags >= 2) return display::kBoxFrag;
    return Blks > e.run.geo.BigFileClusters ? display::kBoxBigFile : display::kBoxFile;
}

// A moved folder's copy carries its new "." and its ".." from the start, so the
// folder is whole the moment its entry points at it.
bool FixDotsInCopy(Engine& e, uint32_t JJ, uint32_t Block, uint8_t* firstSector) {
    const fat::FatRun& run = e.run;
    if (std::memcmp(firstSector, ".          ", 11) != 0 ||
        std::memcmp(firstSector + 32, "..         ", 11) != 0) {
        return false;
    }
    SetEntryStart(run, firstSector, Block);
    const uint32_t parent = run.model.FileTab[JJ].ParentRec;
    SetEntryStart(run, firstSector + 32, parent == 0 ? 0 : run.model.FileTab[parent].StartCluster);
    return true;
}

// Writes the copy to the target runs in chain order, splitting a write where a
// run ends.
bool WriteToTarget(Engine& e, const fat::Extents& target, uint64_t& done, const uint8_t* data,
                   uint64_t bytes) {
    const disk::Geometry& geo = e.run.geo;
    uint64_t skip = done / kSectorSize;  // sectors of the target already written
    for (uint32_t k = 1; k <= target.Count() && bytes > 0; ++k) {
        const uint64_t sectors = uint64_t{target.Lens[k]} * geo.SectorsPerCluster;
        if (skip >= sectors) {
            skip -= sectors;
            continue;
        }
        const uint64_t n = std::min(bytes, (sectors - skip) * kSectorSize);
        e.run.io.SetNextSector(disk::ClusterToSector(geo, target.Starts[k]) +
                               static_cast<int64_t>(skip));
        if (!e.run.io.WriteSectorsNext(data, n)) return false;
        data += n;
        bytes -= n;
        done += n;
        skip = 0;
    }
    return true;
}

// Copies the extents to the target through the one transfer buffer, gathering
// small pieces into large writes.
bool CopyData(Engine& e, uint32_t JJ, const fat::Extents& ext, const fat::Extents& target,
              bool compact, bool& dotsInCopy) {
    fat::FatRun& run = e.run;
    std::vector<uint8_t>& buffer = run.model.MoveBuffer;
    if (buffer.size() != kMoveBufferBytes) buffer.assign(kMoveBufferBytes, 0);
    const uint64_t clusterBytes = uint64_t{run.geo.SectorsPerCluster} * kSectorSize;
    const bool folder = (run.model.FileTab[JJ].Attr & format::kAttrDirectory) != 0;
    uint64_t remaining = 0;
    for (uint32_t k = 1; k <= ext.Count(); ++k)
        remaining += uint64_t{ext.Lens[k]} * clusterBytes;
    uint64_t written = 0;
    uint64_t fill = 0;
    bool first = true;
    for (uint32_t k = 1; k <= ext.Count(); ++k) {
        int64_t src = disk::ClusterToSector(run.geo, ext.Starts[k]);
        uint64_t left = uint64_t{ext.Lens[k]} * clusterBytes;
        while (left > 0) {
            const uint64_t chunk = std::min(left, kMoveBufferBytes - fill);
            run.io.SetNextSector(src);
            if (!run.io.ReadSectors(buffer.data() + fill, chunk)) return false;
            if (first && folder) {
                dotsInCopy = FixDotsInCopy(e, JJ, target.Starts[1], buffer.data());
            }
            first = false;
            src += static_cast<int64_t>(chunk / kSectorSize);
            fill += chunk;
            remaining -= chunk;
            left -= chunk;
            if (fill < kMoveBufferBytes && remaining > 0) continue;
            if (compact) CompactEntries(buffer, static_cast<uint32_t>(fill / 32));
            if (!WriteToTarget(e, target, written, buffer.data(), fill)) return false;
            fill = 0;
            // Held alone, nothing else can touch the volume: paints run, and keys
            // only set flags that are tested once the move is whole.
            if (remaining > 0 && run.io.Level0Lock) report::LetEventsRun(e.report);
        }
    }
    return true;
}

// The bookkeeping after a move, in memory and on the map.
void Moved(Engine& e, const fat::Extents& ext, const fat::Extents& target, uint32_t Blks,
           const std::string& Name) {
    fat::FatRun& run = e.run;
    report::ShowStatus(e.report, display::kStatusLine1, Name, 0);
    Paint(e, ext, display::kBoxEmpty);
    for (uint32_t k = 1; k <= target.Count(); ++k)
        e.map.PaintRun(target.Starts[k], target.Lens[k], display::kBoxMoved);
    for (uint32_t k = 1; k <= ext.Count(); ++k)
        fat::FAT_Free_Run(run, ext.Starts[k], ext.Lens[k]);
    ++run.counters.MovedFiles;
    run.counters.MovedClusters += Blks;
}

void SetMovedRecord(fat::FatRun& run, uint32_t JJ, const fat::Extents& target) {
    fat::FileRec& rec = run.model.FileTab[JJ];
    const uint8_t frags = static_cast<uint8_t>(std::min<uint32_t>(target.Count(), 255));
    if (rec.Frags > 1 && frags == 1) --run.counters.FragmentedToDo;
    // A whole file parked in pieces is one more to make whole.
    if (rec.Frags == 1 && frags > 1) ++run.counters.FragmentedToDo;
    rec.Frags = frags;
    rec.StartCluster = target.Starts[1];
}

// A file's move on a volume held alone, made in memory at once and joined to the
// batch, whose writes reach the medium in the safe order later (LandBatch).
bool BatchedMove(Engine& e, uint32_t JJ, const fat::Extents& ext, const fat::Extents& target,
                 uint32_t Blks, uint64_t bytes) {
    fat::FatRun& run = e.run;
    disk::VolumeIo& io = run.io;
    MoveBatch& b = e.batch;
    if (!BatchAdmits(b, JJ, target, bytes) && !LandBatch(e)) return false;
    Paint(e, ext, display::kBoxMoving);
    DirSector entries{};
    uint32_t EntryNo = 0;
    int64_t Sector = 0;
    if (!FAT_Read_Entry(run, JJ, entries, EntryNo, Sector)) return false;
    const std::string Name =
        fat::EntryName(&entries[format::EntryOffsetInSector(EntryNo)], run.geo.CodePage);
    if (!EntryIsRecord(run, JJ, &entries[format::EntryOffsetInSector(EntryNo)])) return false;
    if (!Mark_New_Chain(run, target)) {
        fat::FAT_FREE_Segs(run);
        return false;
    }
    bool dotsInCopy = false;
    io.HoldWrites(2);
    const bool copied = CopyData(e, JJ, ext, target, false, dotsInCopy);
    io.HoldWrites(3);
    if (copied) FAT_Update_Entry(run, JJ, target.Starts[1], entries, EntryNo, Sector);
    io.HoldWrites(0);
    if (!copied || run.flags.AbortRun != 0) {
        // Nothing of this move reaches the medium but a copy into free clusters.
        for (uint32_t k = 1; k <= target.Count(); ++k)
            Clear_FAT(run, target.Starts[k], target.Lens[k]);
        return false;
    }
    for (uint32_t k = 1; k <= target.Count(); ++k)
        b.newRuns.emplace_back(target.Starts[k], target.Lens[k]);
    SetMovedRecord(run, JJ, target);
    BatchFree(run, b, ext);
    b.moved.insert(JJ);
    b.bytes += bytes;
    ++b.moves;
    Moved(e, ext, target, Blks, Name);
    return run.flags.AbortRun == 0;
}

// The FAT32 root has no entry of its own: the boot sector names it. It moves
// alone, on a volume held alone: chain and copy | boot sectors (FAT_Switch_Root),
// and only then may its old chain be freed.
bool MoveRoot(Engine& e, const fat::Extents& ext, const fat::Extents& target, uint32_t Blks,
              bool compact) {
    fat::FatRun& run = e.run;
    disk::VolumeIo& io = run.io;
    if (!run.geo.IsFat32 || !io.Level0Lock || run.model.FileFixed[0] != 0) return false;
    if (!LandAll(e)) return false;
    Paint(e, ext, display::kBoxMoving);
    if (!Synch_Fat1(run, target)) {
        fat::FAT_FREE_Segs(run);
        return false;
    }
    // No barrier between chain and copy: the boot sector names neither yet.
    bool dotsInCopy = false;
    if (!CopyData(e, 0, ext, target, compact, dotsInCopy) || !io.Barrier()) return false;
    if (!FAT_Switch_Root(run, target.Starts[1])) return false;
    SetMovedRecord(run, 0, target);
    if (!Synch_Fat2(run, ext)) return false;
    Moved(e, ext, target, Blks, "\\");
    return run.flags.AbortRun == 0;
}

// How the steps of a lone move under the write locks ended, for what follows
// once the locks are dropped.
enum class LoneEnd { Moved, Failed, Refused, ChainFailed };

// The checks that can stop a lone move, all before its first write, so a stop
// never leaves a half-made move behind.
LoneEnd CheckLoneMove(Engine& e, uint32_t JJ, uint32_t Blks, uint32_t Block, DirSector& entries,
                      uint32_t& EntryNo, int64_t& Sector, std::string& Name) {
    fat::FatRun& run = e.run;
    if (!FAT_Read_Entry(run, JJ, entries, EntryNo, Sector)) return LoneEnd::Failed;
    Name = fat::EntryName(&entries[format::EntryOffsetInSector(EntryNo)], run.geo.CodePage);
    if (!run.io.Level0Lock && !FAT_Verify_Move(e, JJ, entries, EntryNo, Name, Blks, Block)) {
        return LoneEnd::Refused;
    }
    if (!EntryIsRecord(run, JJ, &entries[format::EntryOffsetInSector(EntryNo)]))
        return LoneEnd::Failed;
    const bool folder = (run.model.FileTab[JJ].Attr & format::kAttrDirectory) != 0;
    if (folder && !DotLinksReady(run, JJ)) return LoneEnd::Failed;
    return LoneEnd::Moved;
}

// The writes of a lone move, each step on the medium before the next: new
// chain and copy | entry | subfolders' ".." | old chain freed.
LoneEnd WriteLoneMove(Engine& e, uint32_t JJ, const fat::Extents& ext, const fat::Extents& target,
                      bool compact, DirSector& entries, uint32_t EntryNo, int64_t Sector) {
    fat::FatRun& run = e.run;
    disk::VolumeIo& io = run.io;
    const uint32_t Block = target.Starts[1];
    const bool folder = (run.model.FileTab[JJ].Attr & format::kAttrDirectory) != 0;
    if (!Synch_Fat1(run, target)) return LoneEnd::ChainFailed;
    // No barrier between chain and copy: until the entry names the new chain,
    // neither is reachable, and a cut leaves lost clusters at most.
    bool dotsInCopy = false;
    if (!CopyData(e, JJ, ext, target, compact, dotsInCopy) || !io.Barrier()) {
        return LoneEnd::Failed;
    }
    FAT_Update_Entry(run, JJ, Block, entries, EntryNo, Sector);
    if (run.flags.AbortRun != 0 || !io.Barrier()) return LoneEnd::Failed;

    SetMovedRecord(run, JJ, target);
    if (folder) {
        // Only the subfolders' ".." entries are left to point at the new place.
        Fat_Fix_DotLinks(run, JJ, Block, !dotsInCopy);
        if (run.flags.AbortRun != 0 || !io.Barrier()) return LoneEnd::Failed;
    }
    // Held alone, the free shares the barrier after the next move's new chain:
    // the entry no longer names the old chain.
    if (!Synch_Fat2(run, ext) || (!io.Level0Lock && !io.Barrier())) return LoneEnd::Failed;
    return LoneEnd::Moved;
}

// Folders, files larger than the buffer and moves on a shared volume go alone,
// each step on the medium before the next, under the write locks on a shared
// volume.
bool LoneMove(Engine& e, uint32_t JJ, const fat::Extents& ext, const fat::Extents& target,
              uint32_t Blks, bool compact) {
    fat::FatRun& run = e.run;
    disk::VolumeIo& io = run.io;
    if (!LandAll(e)) return false;
    Paint(e, ext, display::kBoxMoving);
    if (!io.Level0Lock && !disk::LockLevel3(e.lock, true)) return false;

    std::string Name;
    LoneEnd end = LoneEnd::Failed;
    {
        const disk::WriteLockHold hold(e.lock, !io.Level0Lock);
        DirSector entries{};
        uint32_t EntryNo = 0;
        int64_t Sector = 0;
        end = CheckLoneMove(e, JJ, Blks, target.Starts[1], entries, EntryNo, Sector, Name);
        if (end == LoneEnd::Moved) {
            end = WriteLoneMove(e, JJ, ext, target, compact, entries, EntryNo, Sector);
        }
    }
    switch (end) {
        case LoneEnd::Refused:
            Paint(e, ext, OwnColour(e, JJ, Blks));
            return false;
        case LoneEnd::ChainFailed:
            fat::FAT_FREE_Segs(run);
            return false;
        case LoneEnd::Failed:
            return false;
        case LoneEnd::Moved:
            break;
    }
    Moved(e, ext, target, Blks, Name);
    return run.flags.AbortRun == 0;
}

bool Move(Engine& e, uint32_t JJ, const fat::Extents& ext, const fat::Extents& target,
          bool compact) {
    fat::FatRun& run = e.run;
    uint32_t Blks = 0;
    for (uint32_t k = 1; k <= target.Count(); ++k)
        Blks += target.Lens[k];
    const bool folder = (run.model.FileTab[JJ].Attr & format::kAttrDirectory) != 0;
    const uint64_t bytes = uint64_t{Blks} * run.geo.SectorsPerCluster * kSectorSize;
    // A fixed record never moves, whichever pass asks.
    if (JJ != 0 && run.model.FileFixed[JJ] != 0) return false;
    if (JJ == 0) return MoveRoot(e, ext, target, Blks, compact);
    if (run.io.Level0Lock && !folder && !compact && bytes <= kMoveBufferBytes)
        return BatchedMove(e, JJ, ext, target, Blks, bytes);
    return LoneMove(e, JJ, ext, target, Blks, compact);
}

}  // namespace

bool FAT_MOVE_File(Engine& e, uint32_t JJ, const fat::Extents& ext, uint32_t Blks, uint32_t Block) {
    return Move(e, JJ, ext, fat::Extents::OneRun(Block, Blks), false);
}

bool FAT_Move_To_Runs(Engine& e, uint32_t JJ, const fat::Extents& ext, const fat::Extents& target) {
    // Only an exclusive run: the shared-volume checks know one target run.
    if (!e.run.io.Level0Lock || target.Count() == 0) return false;
    return Move(e, JJ, ext, target, false);
}

bool FAT_Move_Compacted(Engine& e, uint32_t JJ, const fat::Extents& ext, uint32_t Blks,
                        uint32_t Block) {
    if (uint64_t{Blks} * e.run.geo.SectorsPerCluster * kSectorSize > kMoveBufferBytes) return false;
    return Move(e, JJ, ext, fat::Extents::OneRun(Block, Blks), true);
}

bool FAT_Verify_Move(Engine& e, uint32_t JJ, const DirSector& entries, uint32_t EntryNo,
                     const std::string& Name, uint32_t Blks, uint32_t Block) {
    fat::FatRun& run = e.run;
    const uint8_t* entry = &entries[format::EntryOffsetInSector(EntryNo)];
    if (entry[0] == format::kErasedMark || entry[0] == 0) {
        analysis::SetBusy(e.analysis, JJ, {});  // an erased entry is not listed
        run.flags.VolumeTouched = true;
        return false;
    }
    if (run.flags.VolumeTouched) {
        const std::string path =
            fat::FolderPath(run.model, static_cast<int32_t>(run.model.FileFolderIdx[JJ])) + "\\" +
            Name;
        if (run.io.IsOpenFile(path, Name)) {
            analysis::SetBusy(e.analysis, JJ, Name);
            return false;
        }
    }
    const fat::FileRec& rec = run.model.FileTab[JJ];
    if (EntryStart(run, entry) != rec.StartCluster || format::DirEntry(entry).Size() != rec.Size) {
        analysis::SetBusy(e.analysis, JJ, Name);
        return false;
    }
    if (!Synch_Fat_To_Mem(run, Block, Blks)) return false;
    for (uint64_t c = Block; c < uint64_t{Block} + Blks; ++c) {
        if ((run.model.Fat[c] & fat::kFatMask) != 0) return false;
    }
    return true;
}

bool FAT_Move_Fragmented(Engine& e, uint32_t JJ, const fat::Extents& ext) {
    uint32_t total = 0;
    for (uint32_t k = 1; k <= ext.Count(); ++k)
        total += ext.Lens[k];
    uint32_t Block = 0;
    if (!fat::FAT_Allocate(e.run, total, Block, 0)) return false;
    FAT_MOVE_File(e, JJ, ext, total, Block);
    return true;
}

bool FAT_Moveit(Engine& e, uint32_t& I, uint32_t JJ, uint32_t& Blks, uint32_t& Block) {
    fat::FatRun& run = e.run;
    fat::VolumeModel& m = run.model;
    fat::Extents ext;
    const uint32_t n = fat::GetExtents(run, m.FileTab[JJ].StartCluster, ext);
    if (run.flags.AbortRun != 0) return false;
    m.GapStart[I] += n;
    m.GapLen[I] -= n;
    const bool r = FAT_MOVE_File(e, JJ, ext, n, Block);
    report::ShowStatus(e.report, display::kStatusLine2,
                       std::to_string(static_cast<int64_t>(m.GapCount) - m.GapFirst), 0);
    report::LetEventsRun(e.report);
    while (I != 0 && m.GapStart[I] > Block)
        --I;
    while (I < m.GapCount && m.GapStart[I] < Block)
        ++I;
    Blks = m.GapLen[I];
    Block = m.GapStart[I];
    return r;
}

}  // namespace kestra::engine
