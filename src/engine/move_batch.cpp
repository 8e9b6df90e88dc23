#include "engine/move_batch.h"

#include <bitset>
#include <iterator>
#include <utility>
#include <vector>

#include "engine/engine_context.h"
#include "engine/fat_write_back.h"

namespace kestra::engine {

bool BatchAdmits(const MoveBatch& b, uint32_t JJ, const fat::Extents& target, uint64_t bytes) {
    if (b.moves == 0) return true;
    if (b.moves >= kBatchMoves || b.bytes + bytes > fat::kMoveBufferBytes) return false;
    // Moved twice, its copy would be read from a copy not yet written.
    if (b.moved.count(JJ) != 0) return false;
    for (uint32_t k = 1; k <= target.Count(); ++k) {
        const uint32_t first = target.Starts[k];
        const uint32_t end = first + target.Lens[k];
        auto it = b.freed.upper_bound(first);
        if (it != b.freed.end() && it->first < end) return false;
        if (it != b.freed.begin() && std::prev(it)->second > first) return false;
    }
    return true;
}

void BatchFree(fat::FatRun& run, MoveBatch& b, const fat::Extents& ext) {
    const std::vector<uint32_t>& fat = run.model.Fat;
    for (uint32_t k = 1; k <= ext.Count(); ++k) {
        const uint32_t first = ext.Starts[k];
        const uint32_t len = ext.Lens[k];
        b.oldRuns.emplace_back(first, len);
        b.oldLinks.insert(b.oldLinks.end(), fat.begin() + first, fat.begin() + first + len);
        b.freed[first] = first + len;
        Clear_FAT(run, first, len);
    }
}

bool LandBatch(Engine& e) {
    fat::FatRun& run = e.run;
    disk::VolumeIo& io = run.io;
    MoveBatch& b = e.batch;
    if (b.moves == 0 && !io.HasHeldWrites()) return true;
    std::vector<uint32_t>& fat = run.model.Fat;
    // The new chains and the frees of the batch before go first, with this
    // batch's old chains as the medium still has them.
    auto swapOld = [&] {
        size_t at = 0;
        for (const auto& [first, len] : b.oldRuns) {
            for (uint32_t c = first; c < first + len; ++c)
                std::swap(fat[c], b.oldLinks[at++]);
        }
    };
    std::vector<std::pair<uint32_t, uint32_t>> runs = b.newRuns;
    runs.insert(runs.end(), b.settled.begin(), b.settled.end());
    swapOld();
    io.HoldWrites(1);
    bool ok = Write_Fat_Runs(run, runs);
    io.HoldWrites(0);
    swapOld();
    // Then the copies, in the same interval: until an entry switch names a new
    // chain, neither it nor its copy is reachable, so whatever part of them a
    // cut leaves is lost clusters at most. Then the entry switches.
    constexpr std::bitset<disk::VolumeIo::kHeldSteps> kChainSharesCopy{0b001};
    ok = ok && io.FlushHeld(kChainSharesCopy);
    io.DropHeld();  // after a failure nothing more reaches the medium
    std::vector<std::pair<uint32_t, uint32_t>> settled = std::move(b.oldRuns);
    b = MoveBatch{};
    if (ok) b.settled = std::move(settled);
    return ok;
}

bool LandAll(Engine& e) {
    MoveBatch& b = e.batch;
    if (!LandBatch(e)) return false;
    const bool ok = Write_Fat_Runs(e.run, b.settled);
    b.settled.clear();
    return ok;
}

bool FlushMoves(Engine& e) {
    return LandAll(e) && e.run.io.Barrier();
}

}  // namespace kestra::engine
