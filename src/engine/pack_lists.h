#pragma once

// The size-class lists of the pack pass.

#include <array>
#include <cstdint>
#include <vector>

#include "engine/defrag_pass.h"
#include "engine/engine_context.h"

namespace kestra::engine {

// Size classes of the pack pass: 1 .. 64 clusters one class each, then
// doubling limits from 128 up to 2^24 clusters, and one class for all above.
inline constexpr int kSizeClassCount = 84;  // classes 0 .. 83
inline constexpr int kLastSizeClassLimit = 82;
// Ends a class list; every candidate position, 0 included, can be linked.
inline constexpr uint32_t kEndMark = UINT32_MAX;

// The largest cluster count of each class (class 83 has no limit).
const std::array<uint32_t, kSizeClassCount>& SizeClassLimit();
// The class of a file of `clusters` clusters.
int SizeClassOf(uint64_t clusters);

// The pack candidates and, per size class, a singly linked list of their
// positions, highest start cluster first.
struct PackCandidates {
    std::vector<MoveCandidate> list;  // sorted by key
    std::array<uint32_t, kSizeClassCount> ClassHead{};
    std::vector<uint32_t> ClassNext;  // one per candidate
};

// Clusters in a record's chain; 0 when the chain is empty or the run stopped
// on a bad one.
uint64_t ChainClusters(Engine& e, uint32_t record);

// Links every candidate into its class list. False when a chain was bad.
bool FillClassLists(Engine& e, PackCandidates& c);

// Moves the picked `node` of class `cls` (found after `prev`, kEndMark when it
// was the head) to where it belongs once it lies at gstart: before the first
// node whose file starts below gstart.
void FAT_Requeue(Engine& e, int cls, uint32_t node, uint32_t prev, uint32_t gstart,
                 PackCandidates& c);

}  // namespace kestra::engine
