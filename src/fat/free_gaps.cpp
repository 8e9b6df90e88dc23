#include "fat/free_gaps.h"

#include <algorithm>

namespace kestra::fat {
namespace {

void Resize(VolumeModel& m, size_t upper) {
    m.GapStart.resize(upper + 1);
    m.GapLen.resize(upper + 1);
}

// Puts a gap in at index i, those from i on moving one up.
void InsertGap(VolumeModel& m, uint32_t i, uint32_t start, uint32_t len) {
    if (m.GapCount + 1 >= m.GapStart.size()) Resize(m, m.GapCount + m.GapCount / 5 + 100);
    std::copy_backward(m.GapStart.begin() + i, m.GapStart.begin() + m.GapCount + 1,
                       m.GapStart.begin() + m.GapCount + 2);
    std::copy_backward(m.GapLen.begin() + i, m.GapLen.begin() + m.GapCount + 1,
                       m.GapLen.begin() + m.GapCount + 2);
    ++m.GapCount;
    m.GapLen[i] = len;
    m.GapStart[i] = start;
}

}  // namespace

bool IsFree(const FatRun& run, uint32_t c) {
    return (run.model.Fat[c] & kFatMask) == 0;
}

void FAT_FREE_Segs(FatRun& run) {
    VolumeModel& m = run.model;
    const uint32_t last = run.counters.LastCluster;
    Resize(m, 500);
    uint32_t count = 0;
    uint32_t open = 0;
    for (uint32_t c = 2; c <= last; ++c) {
        if (IsFree(run, c)) {
            if (open == 0) open = c;
        } else if (open != 0) {
            ++count;
            m.GapLen[count] = c - open;
            m.GapStart[count] = open;
            open = 0;
        }
        if (count + 1 >= m.GapStart.size() && c < last) {
            Resize(m, count + std::min<uint32_t>(last - c, 500));
        }
    }
    if (open != 0) {
        ++count;
        Resize(m, std::max<size_t>(count, m.GapStart.size() - 1));
        m.GapLen[count] = last - open + 1;
        m.GapStart[count] = open;
    }
    m.GapFirst = 1;
    m.GapCount = count;
    Resize(m, count);
}

uint32_t FAT_Available(FatRun& run, uint32_t blks, uint32_t& block, uint32_t lo) {
    const VolumeModel& m = run.model;
    if (m.GapCount < 1) return 0;
    for (uint32_t i = 1; i <= m.GapCount; ++i) {
        const uint64_t end = uint64_t{m.GapStart[i]} + m.GapLen[i];
        if (end <= lo) continue;
        if (m.GapLen[i] >= blks && m.GapStart[i] >= lo) {
            block = m.GapStart[i];
            return i;
        }
        if (m.GapLen[i] >= blks && end - lo >= blks) {
            block = static_cast<uint32_t>(end - blks);
            return i;
        }
    }
    return 0;
}

bool FAT_Allocate(FatRun& run, uint32_t blks, uint32_t& block, uint32_t lo) {
    const uint32_t i = FAT_Available(run, blks, block, lo);
    if (i == 0) return false;
    VolumeModel& m = run.model;
    if (block == m.GapStart[i]) m.GapStart[i] += blks;
    m.GapLen[i] -= blks;
    return true;
}

void FAT_Free_Run(FatRun& run, uint32_t start, uint32_t len) {
    VolumeModel& m = run.model;
    const uint64_t end = uint64_t{start} + len;
    uint32_t lo = 1;
    uint32_t hi = m.GapCount;
    uint32_t last = 0;
    while (m.GapCount > 0) {
        const uint32_t mid = (lo + hi) / 2;
        if (mid == last) break;
        last = mid;
        if (start <= m.GapStart[mid]) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    auto insertAt = [&](uint32_t i) { InsertGap(m, i, start, len); };
    for (uint32_t i = std::max<uint32_t>(last, 1); i <= m.GapCount; ++i) {
        if (end == m.GapStart[i]) {
            m.GapStart[i] -= len;
            m.GapLen[i] += len;
            return;
        }
        if (uint64_t{m.GapStart[i]} + m.GapLen[i] == start) {
            m.GapLen[i] += len;
            if (i < m.GapCount && uint64_t{m.GapStart[i]} + m.GapLen[i] == m.GapStart[i + 1]) {
                m.GapLen[i] += m.GapLen[i + 1];
                std::copy(m.GapStart.begin() + i + 2, m.GapStart.begin() + m.GapCount + 1,
                          m.GapStart.begin() + i + 1);
                std::copy(m.GapLen.begin() + i + 2, m.GapLen.begin() + m.GapCount + 1,
                          m.GapLen.begin() + i + 1);
                --m.GapCount;
            }
            return;
        }
        if (end < m.GapStart[i]) return insertAt(i);
    }
    // Beyond the last gap, or into an empty list: recorded at once rather than
    // left for the next rebuild.
    insertAt(m.GapCount + 1);
}

bool FAT_Take_Run(FatRun& run, uint32_t start, uint32_t len) {
    VolumeModel& m = run.model;
    const auto first = m.GapStart.begin() + 1;
    const auto last = m.GapStart.begin() + m.GapCount + 1;
    // The last gap starting at or before `start`; empty gaps keep the order.
    const auto at = std::upper_bound(first, last, start);
    if (at == first) return false;
    const uint32_t i = static_cast<uint32_t>(at - m.GapStart.begin()) - 1;
    const uint64_t gapEnd = uint64_t{m.GapStart[i]} + m.GapLen[i];
    const uint64_t end = uint64_t{start} + len;
    if (end > gapEnd) return false;
    if (start == m.GapStart[i]) {
        m.GapStart[i] += len;
        m.GapLen[i] -= len;
        return true;
    }
    m.GapLen[i] = start - m.GapStart[i];
    if (end != gapEnd)
        InsertGap(m, i + 1, static_cast<uint32_t>(end), static_cast<uint32_t>(gapEnd - end));
    return true;
}

int FAT_Q(FatRun& run, uint32_t block, uint32_t blks) {
    int q = 0;
    if (block >= 3 && IsFree(run, block - 1)) q = 1;
    const uint64_t after = uint64_t{block} + blks;
    if (after <= run.counters.LastCluster && IsFree(run, static_cast<uint32_t>(after))) ++q;
    return q;
}

uint64_t FreeSpaceSectors(const FatRun& run) {
    uint64_t clusters = 0;
    for (uint32_t i = 1; i <= run.model.GapCount; ++i)
        clusters += run.model.GapLen[i];
    return clusters * run.geo.SectorsPerCluster;
}

uint64_t LargeFreeSectors(const FatRun& run) {
    uint64_t clusters = 0;
    for (uint32_t i = 1; i <= run.model.GapCount; ++i) {
        if (run.model.GapLen[i] >= run.geo.BigFileClusters) clusters += run.model.GapLen[i];
    }
    return clusters * run.geo.SectorsPerCluster;
}

}  // namespace kestra::fat
