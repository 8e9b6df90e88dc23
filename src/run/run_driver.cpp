#include "run/run_driver.h"

#include <new>
#include <stdexcept>

#include "analysis/structure_check.h"
#include "analysis/view_map.h"
#include "display/status_tag.h"
#include "fat/chains.h"
#include "fat/fat_table.h"
#include "fat/free_gaps.h"
#include "report/run_status.h"
#include "report/status_lines.h"

namespace kestra::run {
namespace {

enum class PassEnd { Restart, ErrorPath, EndOfRun, Finish };

constexpr int kForeignRestarts = 3;

void ShowLine(RunContext& ctx, const std::string& text) {
    report::ShowLine(ctx.report, text);
}

void StartPass(RunContext& ctx) {
    report::RunFlags& f = ctx.flags;
    ++ctx.mode.RunPass;
    f.DiskErrorFlag = false;
    f.NoMemoryFlag = false;
    f.InternalErrorFlag = false;
    f.DriveBusyFlag = false;
    f.StructureErrorFlag = false;
    f.RestartRun = false;
    ctx.lstInuse.clear();
    ctx.analysis.inuseFiles.clear();
    f.ErrSource.clear();
    f.ErrText.clear();
    f.AbortRun = 0;
}

void ResetPass(RunContext& ctx) {
    fat::RunCounters& n = ctx.counters;
    ctx.flags.VolumeTouched = false;
    n.EmptyFileCount = 0;
    n.ErasedEntryCount = 0;
    n.FragmentedCount = 0;
    n.FragmentedFixedCount = 0;
    n.DefragActive = false;
    ctx.RunDone = false;
    report::ResetLog(ctx.report);
    n.LastCluster = ctx.geo.ClusterCount + 1;
    ctx.flags.PaintDeferred = false;
    n.MapScale = static_cast<uint32_t>(display::MapScaleFor(ctx.geo.ClusterCount));
    report::ClearText(ctx.report);
}

// One pass, up to the point where the loop decides what comes next.
PassEnd Pass(RunContext& ctx) {
    report::RunFlags& f = ctx.flags;
    fat::RunCounters& n = ctx.counters;
    if (!disk::LockIt(ctx.lock,
                      ctx.mode.DefragMode >= 0 ? disk::Access::ReadWrite : disk::Access::Read)) {
        f.DriveBusyFlag = true;
        return PassEnd::EndOfRun;
    }
    // Everything up to the first cluster, and folder sectors as the moves name
    // them, must still hold what the run saw when it rewrites them.
    if (ctx.mode.DefragMode >= 0) ctx.io.WatchBelow(ctx.geo.ClusterBase + 1);
    ResetPass(ctx);
    ctx.Caption = ctx.mode.RunPass == 1
                      ? ctx.RunCaption
                      : ctx.RunCaption + "  -  restart " + std::to_string(ctx.mode.RunPass - 1);
    ctx.map.DimensionMap(ctx.geo.ClusterCount);
    for (const std::string& line : disk::GeometryLines(ctx.geo, n.MapScale))
        ShowLine(ctx, line);

    ctx.model.MemReserve.assign(1, 0);
    if (fat::ReadFat(ctx.run) &&
        (!ctx.mode.CheckStructure || analysis::CleanShutdownTest(ctx.run))) {
        fat::FAT_Marks(ctx.run);
    }
    uint64_t allocated = 0;
    if (!f.RunError && ctx.mode.CheckStructure) analysis::FatSoundnessTest(ctx.run, allocated);
    if (f.RunError) {
        if (f.AbortRun == 0) return PassEnd::EndOfRun;
        f.StructureErrorFlag = true;
        return PassEnd::ErrorPath;
    }

    ctx.map.DrawLegend(ctx.Legend());
    ctx.map.LegendOnly = false;
    ctx.mode.SharedVolume = !ctx.io.Level0Lock;
    if (ctx.mode.SharedVolume) report::ShowNotice(ctx.report, "Shared volume");
    report::ShowTag(ctx.report, display::kStatusLine2, "Dir / File:", 15);
    report::ShowTag(ctx.report, display::kStatusLine1, "Checking:", 15);
    report::LetEventsRun(ctx.report);

    double loadTime = 0, folderTime = 0;
    uint32_t chains = 0;
    if (!ctx.mode.CheckStructure) {
        ctx.mode.SharedVolume = false;
        analysis::Fat_ViewMap(ctx.analysis, loadTime, folderTime, chains);
        if (f.RestartRun) return PassEnd::Restart;
        if (f.AbortRun != 0) return PassEnd::ErrorPath;
        ShowLine(ctx, "Chains=" + std::to_string(chains));
        FreeSpaceLines(ctx);
        return PassEnd::Finish;
    }

    ShowLine(ctx, "Checking disk structure:");
    analysis::Fat_ViewMap(ctx.analysis, loadTime, folderTime, chains);
    // The count test also counts the FAT32 root among the folders.
    if (!f.RunError && analysis::ChainCountTest(ctx.run)) {
        analysis::LostClustersTest(ctx.run, allocated, ctx.analysis.chainedClusters);
    }
    if (f.RestartRun) return PassEnd::Restart;
    if (f.AbortRun != 0) return PassEnd::ErrorPath;
    ShowLine(ctx, "Files=" + std::to_string(n.PlainFileCount) +
                      ",  Folders=" + std::to_string(n.FolderCount));
    ShowLine(ctx, "Fragmented files=" + std::to_string(n.FragmentedCount));
    if (n.EmptyFileCount != 0) ShowLine(ctx, "Empty Files=" + std::to_string(n.EmptyFileCount));
    if (n.ErasedEntryCount != 0) {
        ShowLine(ctx, "Erased Files=" + std::to_string(n.ErasedEntryCount));
    }

    const size_t gapUpperBound = ctx.model.GapLen.empty() ? 0 : ctx.model.GapLen.size() - 1;
    if (gapUpperBound > 1) ShowLine(ctx, "Gaps=" + std::to_string(gapUpperBound - 1));
    FreeSpaceLines(ctx);
    if (ctx.mode.DefragMode < 0) return PassEnd::Finish;

    if (!f.RunError &&
        ((ctx.mode.CheckStructure && n.FragmentedCount != 0) || ctx.mode.DefragMode > 0)) {
        if (ctx.defragPack) {
            ShowLine(ctx, "");
            n.DefragActive = true;
            ctx.defragPack(ctx);
        }
    }
    if (f.AbortRun == 0 && f.RestartRun) return PassEnd::Restart;
    if (f.AbortRun != 0) f.StructureErrorFlag = true;
    return PassEnd::Finish;
}

// The error path, for a stop through the run flags or an unexpected error.
void ErrorPath(RunContext& ctx, const std::string& description, bool runtimeError, bool noMemory) {
    report::RunFlags& f = ctx.flags;
    ctx.io.ReleaseVolume();
    f.RunError = true;
    const std::string text = f.ErrText.empty() ? description : f.ErrText;
    if (noMemory) {
        f.NoMemoryFlag = true;
    } else if (!runtimeError) {
        if (!text.empty()) report::ShowError(ctx.report, "Err=" + text);
        if (!f.ErrSource.empty()) report::ShowError(ctx.report, "Source=" + f.ErrSource);
        if (f.AbortRun == 0 && f.ErrText.empty()) f.InternalErrorFlag = true;
    } else {
        f.InternalErrorFlag = true;
        report::ShowError(ctx.report, "Err=" + text);
        if (!f.ErrSource.empty()) report::ShowError(ctx.report, "Source=" + f.ErrSource);
    }
    f.AbortRun = 1;
}

}  // namespace

void FreeSpaceLines(RunContext& ctx) {
    const uint64_t free = fat::FreeSpaceSectors(ctx.run);
    const uint64_t large = fat::LargeFreeSectors(ctx.run);
    ShowLine(ctx, "Small free Space=" + disk::FormatSectors(free - large));
    ShowLine(ctx, "Large free space=" + disk::FormatSectors(large));
}

void FormLoad(RunContext& ctx) {
    report::RunFlags& f = ctx.flags;
    f.CloseRequested = false;
    ctx.io.LockLevel = -1;
    ctx.mode.RunPass = 0;
    ctx.map.LegendOnly = false;
    int foreignRestarts = 0;
    for (;;) {
        StartPass(ctx);
        if (f.CloseRequested) break;
        f.RunError = false;
        PassEnd end;
        try {
            end = Pass(ctx);
        } catch (const std::bad_alloc&) {
            if (f.ErrSource.empty()) f.ErrSource = "kestra";
            ErrorPath(ctx, "Out of memory", true, true);
            end = PassEnd::EndOfRun;
        } catch (const std::exception& e) {
            if (f.ErrSource.empty()) f.ErrSource = "kestra";
            ErrorPath(ctx, e.what(), true, false);
            end = PassEnd::EndOfRun;
        }
        if (end == PassEnd::ErrorPath) ErrorPath(ctx, {}, false, false);
        if (end == PassEnd::Restart) {
            const bool foreign = ctx.io.ForeignWrite();
            // Writes the medium may have lost end the run, not restart it.
            if (!ctx.io.ReleaseVolume()) break;
            // A program that keeps writing the image makes the drive busy; the
            // run does not chase it for ever.
            if (foreign && ++foreignRestarts > kForeignRestarts) {
                f.DriveBusyFlag = f.RunError = true;
                f.AbortRun = 1;
                break;
            }
            ctx.map.LegendOnly = true;
            continue;
        }
        if (end == PassEnd::Finish) ctx.frmInuseVisible = !ctx.lstInuse.empty();
        break;
    }
    FAT_End_Run(ctx);
}

void FAT_End_Run(RunContext& ctx) {
    ctx.io.ReleaseVolume();
    if (ctx.flags.RunError) report::StopMessage(ctx.report);
    ctx.PicHistoE.Visible = false;
    ctx.picHistoF.Visible = false;
    ctx.RunDone = true;
    ctx.report.RunWindow.RunDone = true;
    report::LetEventsRun(ctx.report);
}

void Form_KeyDown(RunContext& ctx, int keyCode) {
    if (keyCode != 27) return;
    ctx.flags.CloseRequested = true;
    ctx.flags.RunError = true;
}

bool Form_QueryUnload(RunContext& ctx) {
    if (ctx.RunDone) return true;
    if (!ctx.flags.DropLocksFlag) {
        report::ShowStatus(ctx.report, display::kStatusLine1, "", 0);
        report::ShowStatus(ctx.report, display::kStatusLine2, "", 0);
        report::ShowTag(ctx.report, display::kStatusLine1, "User stop:", 15);
        report::ShowTag(ctx.report, display::kStatusLine2, "Please wait", 15);
        ctx.ui.RepaintNow();
    }
    ctx.flags.CloseRequested = true;
    ctx.flags.RunError = true;
    return false;
}

}  // namespace kestra::run
