#pragma once

// Moves whose writes share their barriers.

#include <cstdint>
#include <map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "fat/chains.h"

namespace kestra::engine {

struct Engine;

// Moves whose writes share their barriers. Each move is decided and made in
// memory at once; its writes wait: the new chains in the FAT with the copies,
// then the entry switches, each step of every move on the medium before the next
// step of any. The old chains stay in the FAT on the medium until the entries have
// switched, and are freed with the next batch's new chains (or alone at the end
// of a pass), so a cut anywhere leaves each file on its old chain or its new one.
struct MoveBatch {
    std::vector<std::pair<uint32_t, uint32_t>> newRuns;  // chains made (first, length)
    std::vector<std::pair<uint32_t, uint32_t>> oldRuns;  // chains freed
    std::vector<uint32_t> oldLinks;                      // their FAT entries before
    std::map<uint32_t, uint32_t> freed;                  // first -> end of each freed run
    std::unordered_set<uint32_t> moved;                  // records moved
    uint64_t bytes = 0;                                  // copies held
    uint32_t moves = 0;
    // Old chains of the batch before, whose entries are on the medium.
    std::vector<std::pair<uint32_t, uint32_t>> settled;
};

// Moves of one batch hold at most the move buffer's worth of copies.
constexpr uint32_t kBatchMoves = 256;

// True when record JJ's move (`bytes` of copy into `target`) may join the batch:
// it has room, its target holds nothing the batch frees, and the record has not
// moved in it already.
bool BatchAdmits(const MoveBatch& b, uint32_t JJ, const fat::Extents& target, uint64_t bytes);
// Frees the extents in Fat, keeping their entries for the step that still shows
// them on the medium.
void BatchFree(fat::FatRun& run, MoveBatch& b, const fat::Extents& ext);
// Puts the batch's writes on the medium in step order, with the frees of the
// batch before in its first step; its own frees wait for the next. False when a
// write or a barrier failed; what was not written then never is, as after a
// power cut.
bool LandBatch(Engine& e);
// Lands the batch and writes the frees still waiting, which then share the
// barrier of whatever comes next.
bool LandAll(Engine& e);
// LandAll, then a barrier: the medium as the moves made it.
bool FlushMoves(Engine& e);

// Flushes the batch when a pass ends, however it ends, so that each pass leaves
// the medium as its moves made it.
class BatchScope {
  public:
    explicit BatchScope(Engine& e) : e_(e) {}
    ~BatchScope() { FlushMoves(e_); }
    BatchScope(const BatchScope&) = delete;
    BatchScope& operator=(const BatchScope&) = delete;

  private:
    Engine& e_;
};

}  // namespace kestra::engine
