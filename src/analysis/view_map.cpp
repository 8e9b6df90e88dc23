#include "analysis/view_map.h"

#include "analysis/folder_scan.h"
#include "analysis/structure_check.h"
#include "fat/chains.h"
#include "fat/free_gaps.h"
#include "report/run_status.h"

namespace kestra::analysis {

using fat::kFatMask;

double ElapsedSince(platform::Clock& clock, double since) {
    double elapsed = clock.SecondsSinceMidnight() - since;
    if (elapsed < -0.1) elapsed += 86400;  // the clock passed midnight
    return elapsed;
}

uint32_t FAT_Mark_Chains(Analysis& a) {
    fat::FatRun& run = a.run;
    const uint32_t last = run.counters.LastCluster;
    uint32_t chains = 0;
    a.chainedClusters = 0;
    fat::Extents extents;
    uint32_t c = 2;
    for (uint32_t tick = 1; c <= last; ++tick) {
        if ((tick & 0xFFFF) == 0) {
            run.letEventsRun();
            if (run.flags.RunError) break;
        }
        const uint32_t v = run.model.Fat[c] & kFatMask;
        if (run.model.ClusterUse[c] != 0 || v == 0) {
            ++c;
            continue;
        }
        if (v >= fat::kFatReservedFirst && v < fat::kFatEndFirst) {
            a.map.PaintCluster(c, display::kBoxBad);
            ++c;
            continue;
        }
        ++chains;
        const uint32_t total = fat::GetExtents(run, c, extents);
        if (run.flags.RunError) break;
        a.chainedClusters += total;
        int colour = display::kBoxFile;
        if (extents.Count() > 1) {
            colour = display::kBoxFrag;
            ++run.counters.FragmentedCount;
        } else if (total > run.geo.BigFileClusters) {
            colour = display::kBoxBigFile;
        }
        a.map.FAT_Redraw_XXXX(extents.Lens, extents.Starts, colour);
        // The other clusters of a one-extent chain are all linked to.
        c = extents.Count() == 1 ? c + total : c + 1;
    }
    return chains;
}

void Fat_ViewMap(Analysis& a, double& LoadTime, double& FolderTime, uint32_t& Chains) {
    fat::FatRun& run = a.run;
    fat::RunCounters& n = run.counters;
    run.io.Ui().SetBusyPointer(true);
    n.ChainCount = 0;
    n.FolderCount = 0;
    n.FragmentedCount = 0;
    n.ChainClusters = 0;

    report::FAT_Active(a.report, "Load");
    const double loadStart = a.clock.SecondsSinceMidnight();
    Chains = FAT_Mark_Chains(a);
    n.ChainCount = Chains;

    if (run.flags.AbortRun == 0) {
        LoadTime = ElapsedSince(a.clock, loadStart);
        fat::FAT_FREE_Segs(run);
        a.map.FAT_Redraw_XXXX(run.model.GapLen, run.model.GapStart, display::kPaintEmptyIfUndrawn);
        n.PlainFileCount = 0;
        report::FAT_Active(a.report, "Folders");
        if (run.mode.CheckStructure) {
            const double folderStart = a.clock.SecondsSinceMidnight();
            run.model.FileTab.assign(1, {});
            Mark_Subdirs(a);
            FolderTime = ElapsedSince(a.clock, folderStart);
        }
    }
    if (run.flags.AbortRun != 0) ForeignWriteTest(run);
    run.io.Ui().SetBusyPointer(false);
}

}  // namespace kestra::analysis
