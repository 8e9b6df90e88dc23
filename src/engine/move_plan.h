#pragma once

// The least-movement plan: where each file goes so that all are whole and the
// free space is one run at the end, moving as few clusters as it can.

#include <cstdint>
#include <utility>
#include <vector>

namespace kestra::engine {

// A file or folder the plan may move, with its chain as runs (first, length).
struct PlanFile {
    uint32_t record = 0;
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    uint32_t clusters = 0;
};

// The volume as the plan sees it: clusters 2 .. lastCluster, those that never
// move (files in use, bad clusters, anything no movable file owns), and the
// movable files.
struct PlanInput {
    uint32_t lastCluster = 1;
    std::vector<bool> fixed;  // by cluster
    std::vector<PlanFile> files;
};

struct PlannedMove {
    uint32_t file = 0;  // index into PlanInput::files
    uint32_t target = 0;
};

struct MovePlan {
    // The data region once packed: clusters 2 .. regionEnd - 1.
    uint32_t regionEnd = 2;
    // The fragmented files and the files reaching beyond the region.
    uint64_t lowerBound = 0;
    uint64_t clusters = 0;           // clusters the moves carry
    std::vector<PlannedMove> moves;  // each to a run of the region, targets disjoint
    std::vector<uint32_t> unplaced;  // files that must move but found no room
};

// What the lower bound needs of a file: its clusters, the cluster after its
// last, and whether it is in one piece.
struct FileSpan {
    uint32_t clusters = 0;
    uint32_t end = 0;
    bool whole = false;
};
FileSpan SpanOf(const PlanFile& f);

// Where the data ends once packed: the first `movable` clusters that are not fixed.
uint32_t RegionEnd(const std::vector<bool>& fixed, uint32_t lastCluster, uint64_t movable);
// The fragmented files and the whole files reaching beyond the region.
uint64_t LowerBoundClusters(const std::vector<bool>& fixed, uint32_t lastCluster,
                            const std::vector<FileSpan>& files);

// Files whole and inside the region stay; the others fill the region's holes,
// largest first, each into the smallest hole that takes it. A file no hole
// takes gets the run of the region whose clearing moves the fewest clusters,
// and the files standing there join the ones to place.
MovePlan PlanMoves(const PlanInput& in);

}  // namespace kestra::engine
