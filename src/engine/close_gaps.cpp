#include "engine/close_gaps.h"

#include <unordered_map>

#include "engine/move_batch.h"
#include "engine/mover.h"
#include "fat/free_gaps.h"
#include "report/run_status.h"
#include "report/status_lines.h"

namespace kestra::engine {

void FAT_Close_Gaps(Engine& e) {
    const BatchScope batch(e);
    fat::FatRun& run = e.run;
    fat::VolumeModel& m = run.model;
    report::RunFlags& f = run.flags;

    // Movable files and folders by their first cluster, the FAT32 root too.
    std::unordered_map<uint32_t, uint32_t> byStart;
    for (uint32_t i = 0; i < m.FileTab.size(); ++i) {
        if (m.FileTab[i].StartCluster != 0 && m.FileFixed[i] == 0)
            byStart[m.FileTab[i].StartCluster] = i;
    }
    // Every file moves up at most a few times; this bound only guards against a
    // gap list that no longer matches the FAT.
    uint64_t movesLeft = 4 * uint64_t{m.FileTab.size()} + 16;
    fat::Extents ext;
    uint32_t g = 1;
    while (g < m.GapCount && !f.RunError && f.AbortRun == 0 && movesLeft > 0) {
        const uint32_t after = m.GapStart[g] + m.GapLen[g];
        const auto it = m.GapLen[g] == 0 ? byStart.end() : byStart.find(after);
        if (it == byStart.end()) {
            ++g;  // empty, or a fixed file or the middle of a chain stands here
            continue;
        }
        const uint32_t rec = it->second;
        const uint32_t n = fat::GetExtents(run, after, ext);
        if (f.AbortRun != 0) break;
        uint32_t block = 0;
        if (n <= m.GapLen[g]) {
            block = m.GapStart[g];  // slide down to the front of the gap
            m.GapStart[g] += n;
            m.GapLen[g] -= n;
        } else if (!fat::FAT_Allocate(run, n, block, after + n)) {
            ++g;  // no room above for the file in the way
            continue;
        }
        --movesLeft;
        byStart.erase(it);
        if (!FAT_MOVE_File(e, rec, ext, n, block)) {
            if (f.RunError) break;
            fat::FAT_FREE_Segs(run);  // a refused move left the list behind the FAT
            continue;
        }
        byStart[block] = rec;
        report::ShowStatus(e.report, display::kStatusLine2,
                           std::to_string(static_cast<int64_t>(m.GapCount) - m.GapFirst), 0);
        report::LetEventsRun(e.report);
        // The file's old clusters joined gap g, which stays at index g.
    }
}

}  // namespace kestra::engine
