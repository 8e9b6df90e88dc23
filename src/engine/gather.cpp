#include "engine/gather.h"

#include <algorithm>

#include "engine/move_batch.h"
#include "engine/mover.h"
#include "fat/free_gaps.h"
#include "report/status_lines.h"

namespace kestra::engine {
namespace {

// The lowest free clusters that hold `clusters`, as runs in cluster order.
fat::Extents LowestFreeRuns(const fat::VolumeModel& m, uint32_t clusters) {
    fat::Extents runs{{0}, {0}};
    for (uint32_t g = 1; g <= m.GapCount && clusters > 0; ++g) {
        const uint32_t take = std::min(m.GapLen[g], clusters);
        if (take == 0) continue;
        runs.Starts.push_back(m.GapStart[g]);
        runs.Lens.push_back(take);
        clusters -= take;
    }
    return runs;
}

// Takes runs found by LowestFreeRuns out of the front of their gaps.
void TakeFromGaps(fat::VolumeModel& m, const fat::Extents& runs) {
    uint32_t k = 1;
    for (uint32_t g = 1; g <= m.GapCount && k <= runs.Count(); ++g) {
        if (m.GapStart[g] != runs.Starts[k] || m.GapLen[g] == 0) continue;
        m.GapStart[g] += runs.Lens[k];
        m.GapLen[g] -= runs.Lens[k];
        ++k;
    }
}

}  // namespace

bool FAT_Gather_Fragmented(Engine& e) {
    const BatchScope batch(e);
    fat::FatRun& run = e.run;
    fat::VolumeModel& m = run.model;
    const report::RunFlags& f = run.flags;
    bool moved = false;
    fat::Extents ext;
    for (uint32_t i = 1; i < m.FileTab.size() && !f.RunError && f.AbortRun == 0; ++i) {
        const fat::FileRec& rec = m.FileTab[i];
        if (rec.Frags <= 1 || m.FileFixed[i] != 0 || rec.StartCluster == 0) continue;
        const uint32_t n = fat::GetExtents(run, rec.StartCluster, ext);
        if (f.AbortRun != 0) break;
        const uint64_t free = fat::FreeSpaceSectors(run) / run.geo.SectorsPerCluster;
        const uint32_t largest =
            m.GapCount == 0
                ? 0
                : *std::max_element(m.GapLen.begin() + 1, m.GapLen.begin() + m.GapCount + 1);
        // The defrag pass takes it as it is, or nothing ever could here.
        if (largest >= n || free < n) continue;
        const fat::Extents target = LowestFreeRuns(m, n);
        uint32_t oldEnd = 0;
        for (uint32_t k = 1; k <= ext.Count(); ++k)
            oldEnd = std::max(oldEnd, ext.Starts[k] + ext.Lens[k]);
        const uint32_t last = target.Count();
        // Only a move down clears the pack's way.
        if (target.Starts[last] + target.Lens[last] >= oldEnd) continue;
        TakeFromGaps(m, target);
        if (FAT_Move_To_Runs(e, i, ext, target)) {
            moved = true;
        } else if (!f.RunError) {
            fat::FAT_FREE_Segs(run);  // a refused move left the list behind the FAT
        }
        report::LetEventsRun(e.report);
    }
    return moved;
}

}  // namespace kestra::engine
