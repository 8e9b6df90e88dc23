#include <algorithm>

#include "engine/pack_pass.h"
#include "fat/free_gaps.h"

namespace kestra::engine {

bool FAT_Best_Fit(Engine& e, uint32_t Len, uint32_t gstart, PackCandidates& c, bool Exact,
                  uint32_t& pick) {
    fat::FatRun& run = e.run;
    const fat::VolumeModel& m = run.model;
    // While fragmented files wait, the first fit will do; otherwise look
    // further for one with free space around it.
    const uint32_t maxFound = run.counters.FragmentedToDo != 0 ? 1 : 16;
    uint32_t found = 0;
    uint32_t misses = 0;
    uint32_t bestNode = kEndMark;
    uint32_t bestPrev = kEndMark;
    uint64_t bestLen = 0;
    int bestQ = 0;
    int bestClass = 0;

    for (int k = SizeClassOf(Len); k >= 1 && bestNode == kEndMark; --k) {
        uint32_t prev = kEndMark;
        for (uint32_t node = c.ClassHead[k]; node != kEndMark;
             prev = node, node = c.ClassNext[node]) {
            const uint32_t i = c.list[node].index;
            if (m.FileFixed[i] != 0) continue;
            const uint32_t s = m.FileTab[i].StartCluster;
            const uint64_t n = ChainClusters(e, i);
            if (run.flags.RunError) return false;
            if (s <= gstart) break;  // the rest of the list lies below the gap
            if (n > Len) continue;
            const int q = fat::FAT_Q(run, s, static_cast<uint32_t>(n));
            if (n > bestLen || (n == bestLen && q > bestQ)) {
                bestNode = node;
                bestPrev = prev;
                bestLen = n;
                bestQ = q;
                bestClass = k;
                if (++found >= maxFound || q == 2) break;
            } else if (++misses >= 10) {
                break;
            }
        }
    }
    if (bestNode == kEndMark) return false;
    if (Exact && bestLen != Len) return false;
    pick = c.list[bestNode].index;
    FAT_Requeue(e, bestClass, bestNode, bestPrev, gstart, c);
    return true;
}

bool FAT_Slide_Next(Engine& e, uint32_t g, PackCandidates& c, uint32_t& pick) {
    fat::FatRun& run = e.run;
    const fat::VolumeModel& m = run.model;
    if (g < 1 || g >= m.GapCount || m.GapLen[g] < 1) return false;
    const uint64_t gend = uint64_t{m.GapStart[g]} + m.GapLen[g];
    const uint64_t next = m.GapStart[g + 1];
    if (next <= gend) return false;
    const uint64_t span = next - gend;  // used clusters between the two gaps
    if (span / 10 > m.GapLen[g]) return false;

    // The candidate listed at gend that still starts there. Any position can
    // be found, the first and the last included.
    const auto at = std::lower_bound(
        c.list.begin(), c.list.end(), gend,
        [](const MoveCandidate& x, uint64_t key) { return uint64_t{x.key} < key; });
    if (at == c.list.end() || at->key != gend) return false;
    const uint32_t i = at->index;
    if (m.FileFixed[i] != 0 || m.FileTab[i].StartCluster != gend) return false;

    const uint64_t n = ChainClusters(e, i);
    if (run.flags.RunError || n > m.GapLen[g]) return false;

    // Not worth it when the block holds more files than the next gap can
    // take in slides of this block's length.
    int64_t ratio = static_cast<int64_t>(m.GapLen[g + 1] / span);
    for (auto other = at + 1; other != c.list.end() && other->key < next; ++other) {
        if (--ratio < 1) return false;
    }
    pick = i;
    return true;
}

}  // namespace kestra::engine
