#include "run/defrag_driver.h"

#include "run/run_driver.h"

#include <cmath>
#include <cstdio>

#include "analysis/folder_scan.h"
#include "analysis/record_paths.h"
#include "analysis/view_map.h"
#include "engine/close_gaps.h"
#include "engine/defrag_pass.h"
#include "engine/dir_write_back.h"
#include "engine/fat_write_back.h"
#include "engine/full_root.h"
#include "engine/gather.h"
#include "engine/pack_pass.h"
#include "engine/plan_pass.h"
#include "engine/volume_mark.h"
#include "fat/chains.h"
#include "fat/free_gaps.h"
#include "format/dir_entry.h"
#include "report/status_lines.h"

namespace kestra::run {
namespace {

// Rounds of gathering, packing and defragmenting, each moving the free space
// closer to one piece; they end when one moves nothing, or after this many.
constexpr int kGatherRounds = 8;

std::string Fixed(double value, int places) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    return text;
}

bool Stopped(const report::RunFlags& f) {
    return f.RunError || f.AbortRun != 0;
}

// Nothing left to move: every movable file whole, and the free space in one
// piece at the end of the volume.
bool Packed(RunContext& ctx) {
    fat::FAT_FREE_Segs(ctx.run);
    const fat::VolumeModel& m = ctx.model;
    if (ctx.counters.FragmentedToDo != 0 || m.GapCount > 1) return false;
    return m.GapCount == 0 || m.GapStart[1] + m.GapLen[1] - 1 == ctx.counters.LastCluster;
}

// The pack walk, then the gaps it leaves where the next file is bigger than the
// gap, so that the free space ends up in one piece at the end.
void PackGaps(RunContext& ctx) {
    engine::FAT_RemoveHoles(ctx.engine);
    if (Stopped(ctx.flags)) return;
    fat::FAT_FREE_Segs(ctx.run);
    engine::FAT_Close_Gaps(ctx.engine);
}

// Every file whole and the free space in one piece at the end.
void DefragAndPack(RunContext& ctx, bool pack) {
    report::RunFlags& f = ctx.flags;
    fat::RunCounters& n = ctx.counters;
    engine::Engine& e = ctx.engine;
    if (n.FragmentedToDo != 0) {
        const uint32_t r = engine::FAT_Defrag(e);
        if (r != 0 && !f.RunError) {
            fat::FAT_FREE_Segs(ctx.run);
            if (pack) {
                const uint32_t m = n.MovedFiles;
                engine::FAT_RemoveHoles(e);
                if (!f.RunError && n.MovedFiles != m) {
                    fat::FAT_FREE_Segs(ctx.run);
                    engine::FAT_Defrag(e);
                }
            }
        }
    }
    fat::FAT_FREE_Segs(ctx.run);
    if (pack && !Stopped(f)) PackGaps(ctx);
    // What is still in pieces, or keeps the free space in pieces, gets more
    // rounds: files no gap could take are gathered out of the pack's way,
    // the free space is brought together, and they are made whole there.
    for (int round = 0; pack && round < kGatherRounds && !Packed(ctx) && !Stopped(f); ++round) {
        const uint32_t m = n.MovedFiles;
        // Packed() has just rebuilt the gap list.
        if (engine::FAT_Gather_Fragmented(e) && !Stopped(f)) {
            fat::FAT_FREE_Segs(ctx.run);
            PackGaps(ctx);
        }
        fat::FAT_FREE_Segs(ctx.run);
        if (!Stopped(f) && n.FragmentedToDo != 0) engine::FAT_Defrag(e);
        fat::FAT_FREE_Segs(ctx.run);
        if (!Stopped(f)) PackGaps(ctx);
        if (n.MovedFiles == m) break;
    }
    if (pack && !f.RunError && n.ErasedEntryCount != 0) {
        const uint32_t m = n.MovedFiles;
        engine::FAT_Pack_Dirs(e);
        // A folder compacted into a new copy leaves its old clusters as a hole.
        if (n.MovedFiles != m && !f.RunError && f.AbortRun == 0) {
            fat::FAT_FREE_Segs(ctx.run);
            PackGaps(ctx);
        }
    }
    // The last word is the defrag pass's: a file the last pack made room for
    // is made whole, even when the rounds ran out first.
    if (pack && n.FragmentedToDo != 0 && !Stopped(f)) {
        fat::FAT_FREE_Segs(ctx.run);
        engine::FAT_Defrag(e);
    }
}

// Every file whole and the free space in one run at the end, by the plan that
// moves the fewest clusters. Where the plan could not be carried out to its end
// (a volume too full to park a file, a move refused), the passes finish from
// where it stopped.
void PlannedPack(RunContext& ctx) {
    const bool whole = engine::FAT_Plan_Pass(ctx.engine);
    fat::FAT_FREE_Segs(ctx.run);
    if (Stopped(ctx.flags) || (whole && Packed(ctx))) return;
    DefragAndPack(ctx, true);
}

// Only the named files, each moved whole to the first free run that holds it;
// every other file stays where it is.
void DefragOnly(RunContext& ctx) {
    fat::FatRun& run = ctx.run;
    const fat::VolumeModel& m = ctx.model;
    std::vector<uint32_t> files;
    std::vector<bool> taken(m.FileTab.size(), false);
    for (const std::string& path : ctx.OnlyPaths) {
        uint32_t record = 0;
        if (!analysis::FindRecord(run, path, record)) {
            if (Stopped(ctx.flags)) return;
            report::ShowLine(ctx.report, "Not found: " + path);
            ++ctx.OnlyNotWhole;
            continue;
        }
        for (const uint32_t k : analysis::FilesBelow(m, record)) {
            if (!taken[k]) files.push_back(k);
            taken[k] = true;
        }
    }
    std::vector<uint32_t> noRoom;
    engine::FAT_Defrag_Files(ctx.engine, files, noRoom);
    if (Stopped(ctx.flags)) return;
    for (const uint32_t k : files) {
        if (m.FileTab[k].Frags <= 1) continue;
        ++ctx.OnlyNotWhole;
        const std::string path = fat::FolderPath(m, static_cast<int32_t>(m.FileFolderIdx[k])) +
                                 "\\" + fat::EntryName(m.FileTab[k].Name.data(), ctx.geo.CodePage);
        if (m.FileFixed[k] != 0) {
            report::ShowLine(ctx.report, "In use, left in pieces: " + path);
        } else {
            report::ShowLine(ctx.report, "No free run holds " + path +
                                             "; defrag without --only packs the free space "
                                             "into one run");
        }
    }
}

}  // namespace

void Fat_DefragPack(RunContext& ctx) {
    report::RunFlags& f = ctx.flags;
    fat::RunCounters& n = ctx.counters;
    f.AbortRun = 0;
    n.MovedClusters = 0;
    n.MovedFiles = 0;
    const bool pack = ctx.mode.DefragMode != 0;
    // The closing review turns the mode into a view; the run still wrote.
    const bool writing = ctx.mode.DefragMode >= 0;
    engine::ArmInUseMark(ctx.run);
    // "Time=" covers every move it counts: the passes, the rounds, the folders.
    const double movesStart = ctx.clock.SecondsSinceMidnight();

    const uint32_t kept =
        writing && ctx.mode.CheckStructure ? engine::KeepFoldersOnFullRoot(ctx.run) : 0;
    if (ctx.mode.CheckStructure) {
        n.FragmentedToDo = n.FragmentedCount - n.FragmentedFixedCount;
        n.LowerBoundClusters = engine::PlanLowerBound(ctx.run);
        if (Stopped(f)) {
            // A chain that cannot be walked stopped the run before any move.
        } else if (!ctx.OnlyPaths.empty()) {
            DefragOnly(ctx);
        } else if (pack && ctx.mode.MinimalMoves) {
            PlannedPack(ctx);
        } else {
            DefragAndPack(ctx, pack);
        }
    }
    const double movesTime = analysis::ElapsedSince(ctx.clock, movesStart);
    ctx.PicHistoE.Visible = false;
    ctx.picHistoF.Visible = false;

    if (ctx.mode.CheckStructure && f.AbortRun == 0 && !f.RestartRun) {
        if (ctx.mode.FixedFileCount != 0) {
            report::ShowLine(ctx.report, "Files in use=" + std::to_string(ctx.mode.FixedFileCount));
        }
        if (kept != 0) {
            report::ShowLine(ctx.report, "Folders kept in place=" + std::to_string(kept) +
                                             " (the root folder is full)");
        }
        report::ShowLine(ctx.report, "Fragmented files=" +
                                         std::to_string(n.FragmentedToDo + n.FragmentedFixedCount));
        if (n.MovedFiles == 0) {
            report::ShowLine(ctx.report, "Moved: None");
            FAT_List_Fragmented(ctx, false);
        } else {
            FAT_List_Fragmented(ctx, ctx.mode.ReviewAfterDefrag && !f.RunError);
            const double mb =
                static_cast<double>(n.MovedClusters) * ctx.geo.SectorsPerCluster / 2048.0;
            const double t = movesTime;
            // A move too quick for the clock shows no rate rather than failing.
            const double rate = t > 0 ? mb / t : 0;
            report::ShowLine(ctx.report, "Moved: Files=" + std::to_string(n.MovedFiles) + ",  Mb=" +
                                             Fixed(std::round(mb), 0) + "   Time=" + Fixed(t, 1) +
                                             ",  Mb/Sec=" + Fixed(rate, 2));
            fat::FAT_FREE_Segs(ctx.run);
        }
        FreeSpaceLines(ctx);
        // The free count other systems trust is made right, whatever it said before.
        if (writing && engine::Synch_FsInfo(ctx.run)) ctx.io.Barrier();
    }
    if (!f.RestartRun) ctx.ui.SetBusyPointer(false);
}

void FAT_List_Fragmented(RunContext& ctx, bool rebuild) {
    fat::FatRun& run = ctx.run;
    report::RunFlags& f = ctx.flags;
    if (rebuild) {
        ctx.mode.DefragMode = -1;
        fat::FAT_Marks(run);
        if (f.AbortRun != 0) return;
        ctx.map.ClearBoxes();
        ctx.map.RepaintMap(ctx.Legend());
        fat::FAT_FREE_Segs(run);
        ctx.map.FAT_Redraw_XXXX(run.model.GapLen, run.model.GapStart,
                                display::kPaintEmptyIfUndrawn);
        analysis::FAT_Mark_Chains(ctx.analysis);
        if (f.AbortRun != 0) return;
    }
    fat::Extents ext;
    for (uint32_t i = 1; i <= ctx.counters.FileCount && i < run.model.FileTab.size(); ++i) {
        if (i % 1024 == 0) report::LetEventsRun(ctx.report);
        const fat::FileRec& rec = run.model.FileTab[i];
        const bool fixed = run.model.FileFixed[i] != 0;
        if (rec.Frags > 1 && !fixed) {
            engine::DirSector entries{};
            uint32_t entryNo = 0;
            int64_t sector = 0;
            if (engine::FAT_Read_Entry(run, i, entries, entryNo, sector)) {
                analysis::AddLongPathItem(
                    ctx.analysis, i,
                    fat::EntryName(&entries[format::EntryOffsetInSector(entryNo)],
                                   ctx.geo.CodePage),
                    {});
            }
        }
        if (!rebuild) continue;
        const int colour = fixed                                 ? display::kBoxFixed
                           : (rec.Attr & format::kAttrDirectory) ? display::kBoxFile
                                                                 : 0;
        if (colour == 0 || rec.StartCluster == 0) continue;
        fat::GetExtents(run, rec.StartCluster, ext);
        if (f.AbortRun != 0) {
            f.AbortRun = 0;
            f.RunError = false;
            f.ErrText.clear();
            continue;
        }
        ctx.map.FAT_Redraw_XXXX(ext.Lens, ext.Starts, colour);
    }
}

}  // namespace kestra::run
