#include "engine/pack_lists.h"

#include "fat/chains.h"

namespace kestra::engine {
namespace {

std::array<uint32_t, kSizeClassCount> MakeLimits() {
    std::array<uint32_t, kSizeClassCount> limit{};
    for (uint32_t k = 1; k <= 64; ++k)
        limit[k] = k;
    limit[65] = 128;
    for (int k = 66; k <= kLastSizeClassLimit; ++k)
        limit[k] = limit[k - 1] * 2;
    limit[kSizeClassCount - 1] = UINT32_MAX;
    return limit;
}

}  // namespace

const std::array<uint32_t, kSizeClassCount>& SizeClassLimit() {
    static const std::array<uint32_t, kSizeClassCount> limit = MakeLimits();
    return limit;
}

int SizeClassOf(uint64_t clusters) {
    if (clusters <= 64) return static_cast<int>(clusters);
    const auto& limit = SizeClassLimit();
    for (int k = 65; k <= kLastSizeClassLimit; ++k) {
        if (clusters <= limit[k]) return k;
    }
    return kSizeClassCount - 1;
}

uint64_t ChainClusters(Engine& e, uint32_t record) {
    int64_t blks = 0;
    fat::Fragmented(e.run, e.run.model.FileTab[record].StartCluster, blks);
    if (e.run.flags.RunError || blks < 0) return 0;
    return static_cast<uint64_t>(blks);
}

bool FillClassLists(Engine& e, PackCandidates& c) {
    c.ClassHead.fill(kEndMark);
    c.ClassNext.assign(c.list.size(), kEndMark);
    // Candidates come in ascending start order, so pushing each at the head
    // leaves every list highest start first.
    for (uint32_t j = 0; j < c.list.size(); ++j) {
        const uint64_t size = ChainClusters(e, c.list[j].index);
        if (e.run.flags.RunError) return false;
        const int cls = SizeClassOf(size);
        c.ClassNext[j] = c.ClassHead[cls];
        c.ClassHead[cls] = j;
    }
    return true;
}

void FAT_Requeue(Engine& e, int cls, uint32_t node, uint32_t prev, uint32_t gstart,
                 PackCandidates& c) {
    uint32_t& link = prev == kEndMark ? c.ClassHead[cls] : c.ClassNext[prev];
    // A node that is not where the caller found it stays put: relinking it
    // could tie a list into a loop.
    if (link != node) return;
    link = c.ClassNext[node];

    const auto& tab = e.run.model.FileTab;
    uint32_t before = kEndMark;
    uint32_t cur = c.ClassHead[cls];
    while (cur != kEndMark && tab[c.list[cur].index].StartCluster >= gstart) {
        before = cur;
        cur = c.ClassNext[cur];
    }
    c.ClassNext[node] = cur;
    (before == kEndMark ? c.ClassHead[cls] : c.ClassNext[before]) = node;
}

}  // namespace kestra::engine
