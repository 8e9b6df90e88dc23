#include "fat/chains.h"

#include "report/status_lines.h"

namespace kestra::fat {
namespace {

void Abort(FatRun& run, const char* text) {
    run.flags.ErrText = text;
    run.flags.AbortRun = 1;
    run.flags.RunError = true;
}

// Walks of the analysis let events run now and then, so Esc is served within a
// second even on the largest volume. The engine walks checked chains between
// moves and leaves the events to its own loops.
bool Interrupted(FatRun& run, uint64_t step) {
    if ((step & 0xFFFF) != 0 || run.counters.DefragActive) return false;
    run.letEventsRun();
    return run.flags.RunError;
}

}  // namespace

void FAT_Marks(FatRun& run) {
    const uint32_t last = run.counters.LastCluster;
    std::vector<uint8_t>& use = run.model.ClusterUse;
    use.assign(size_t{last} + 1, 0);
    for (uint32_t c = 2; c <= last; ++c) {
        const uint32_t v = run.model.Fat[c] & kFatMask;
        if (v >= kFatReservedFirst || v == 0) continue;
        if (v > last || v < 2) return report::ScanStop(run.flags, "Bad cluster#");
        if (use[v] != 0) return report::ScanStop(run.flags, "Crosslinked files");
        use[v] = 1;
    }
}

uint32_t GetExtents(FatRun& run, uint32_t start, Extents& e) {
    e.Starts.assign(2, 0);
    e.Lens.assign(2, 0);
    e.Starts[1] = start;
    uint32_t n = 1;
    uint32_t total = 0;
    uint32_t c = start;
    auto close = [&] {
        e.Lens[n] = c + 1 - e.Starts[n];
        total += e.Lens[n];
    };
    for (uint64_t steps = 1;; ++steps) {
        // A chain longer than the volume loops back on itself.
        if (steps > run.geo.ClusterCount) {
            Abort(run, "Bad chain");
            return 0;
        }
        if (Interrupted(run, steps)) return 0;
        if (c > run.geo.ClusterCount + 1 || c < 2) {
            Abort(run, "Invalid cluster");
            return 0;
        }
        const uint32_t v = run.model.Fat[c] & kFatMask;
        if (v == 0) {
            close();
            Abort(run, "Invalid chain");
            break;
        }
        if (v >= kFatReservedFirst) {
            close();
            break;
        }
        if (v != c + 1) {
            close();
            ++n;
            if (n > 32000) {
                Abort(run, "Fragments > 32000");
                --n;
                break;
            }
            e.Starts.push_back(v);
            e.Lens.push_back(0);
        }
        c = v;
    }
    e.Starts.resize(size_t{n} + 1);
    e.Lens.resize(size_t{n} + 1);
    return total;
}

int Fragmented(FatRun& run, uint32_t n, int64_t& blks) {
    if (n == 0) return 0;
    const uint32_t last = run.counters.LastCluster;
    const char* error = nullptr;
    int frags = 1;
    if (n > last || n < 2) {
        error = "Invalid cluster";
    } else {
        uint32_t c = n;
        blks = 0;
        for (;;) {
            const uint32_t v = run.model.Fat[c] & kFatMask;
            ++blks;
            if (v >= kFatEndFirst) break;
            if (v >= kFatReservedFirst || v == 0 || v > last || v < 2) {
                error = "Invalid cluster";
                break;
            }
            if (v != c + 1 && ++frags > 32760) {
                blks = -blks;
                break;
            }
            // A chain longer than the volume loops back on itself.
            if (blks > last) {
                blks = -blks;
                break;
            }
            if (Interrupted(run, static_cast<uint64_t>(blks))) return 0;
            c = v;
        }
        if (error == nullptr && blks < 0) error = "Bad chain";
    }
    if (error == nullptr) return frags >= 256 ? 255 : frags;

    run.flags.ErrText = error;
    if (run.counters.DefragActive) {
        run.flags.InternalErrorFlag = true;
        run.flags.ErrSource = "Defrag/Pack";
    } else {
        run.flags.StructureErrorFlag = true;
        run.flags.ErrSource = "ViewMap";
    }
    run.flags.AbortRun = 1;
    run.flags.RunError = true;
    return 0;
}

void Mark_Chain(FatRun& run, uint32_t cluster, int colour) {
    if (cluster < 1) return;
    const uint32_t last = run.counters.LastCluster;
    uint64_t steps = 0;
    bool bad = cluster > last || cluster < 2;
    while (!bad) {
        run.paint(cluster, colour);
        ++run.counters.ChainClusters;
        const uint32_t v = run.model.Fat[cluster] & kFatMask;
        if (v >= kFatEndFirst) return;
        if (v == 0 || v > last || v < 2 || ++steps > last) bad = true;
        if (Interrupted(run, steps)) return;
        cluster = v;
    }
    run.flags.ErrSource = "MarkChain";
    report::ScanStop(run.flags, "Bad cluster");
}

void FAT_Mark_Chain(FatRun& run, uint32_t blks, uint32_t block) {
    std::vector<uint32_t>& fat = run.model.Fat;
    const uint64_t end = uint64_t{block} + blks;  // one past the run
    // Every cluster of the run must be free, the last one too.
    if (blks == 0 || block < 2 || end - 1 > run.counters.LastCluster) {
        return Abort(run, "Invalid MarkChain");
    }
    for (uint32_t c = block; c < end - 1; ++c) {
        if ((fat[c] & kFatMask) != 0) return Abort(run, "Invalid MarkChain");
        fat[c] = (fat[c] & ~kFatMask) | (c + 1);
    }
    const uint32_t tail = static_cast<uint32_t>(end - 1);
    if ((fat[tail] & kFatMask) != 0) return Abort(run, "Invalid MarkChain");
    fat[tail] |= kFatEnd;
}

}  // namespace kestra::fat
