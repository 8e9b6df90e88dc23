#include "engine/plan_pass.h"

#include <algorithm>
#include <map>

#include "engine/move_batch.h"
#include "engine/mover.h"
#include "fat/chains.h"
#include "fat/free_gaps.h"
#include "report/run_status.h"
#include "report/status_lines.h"

namespace kestra::engine {
namespace {

// Runs keyed by their first cluster: first -> (end, move).
using RunMap = std::map<uint32_t, std::pair<uint32_t, uint32_t>>;

// The first run of `runs` that may overlap first .. end - 1.
RunMap::const_iterator FirstOverlap(const RunMap& runs, uint32_t first) {
    auto it = runs.upper_bound(first);
    if (it != runs.begin() && std::prev(it)->second.first > first) --it;
    return it;
}

struct Waiting {
    uint32_t record = 0;
    uint32_t target = 0;
    uint32_t len = 0;
    uint64_t taken = 0;  // target clusters still in use
    bool open = true;    // neither made nor dropped
};

class PlanRun {
  public:
    PlanRun(Engine& e, const PlanInput& input, const MovePlan& plan) : e_(e) {
        for (const PlannedMove& pm : plan.moves) {
            const PlanFile& f = input.files[pm.file];
            const uint32_t m = static_cast<uint32_t>(moves_.size());
            Waiting w{f.record, pm.target, f.clusters};
            for (uint32_t c = w.target; c < w.target + w.len; ++c)
                w.taken += fat::IsFree(e.run, c) ? 0 : 1;
            moves_.push_back(w);
            targets_[w.target] = {w.target + w.len, m};
            for (const auto& [first, len] : f.runs)
                standing_[first] = {first + len, m};
            if (w.taken == 0) ready_.push_back(m);
        }
        left_ = moves_.size();
    }

    // False when the plan could not be carried out to its end.
    bool Run() {
        while (left_ > 0 && !Stopped(e_)) {
            if (ready_.empty() && !Unblock()) return false;
            std::vector<uint32_t> wave;
            wave.swap(ready_);
            // In target order, so that a batch's copies land in one sweep.
            std::sort(wave.begin(), wave.end(),
                      [&](uint32_t a, uint32_t b) { return moves_[a].target < moves_[b].target; });
            for (const uint32_t m : wave) {
                if (Stopped(e_)) return false;
                if (moves_[m].open)
                    MoveTo(m, fat::Extents::OneRun(moves_[m].target, moves_[m].len));
            }
            report::ShowStatus(e_.report, display::kStatusLine2, std::to_string(left_), 0);
        }
        return left_ == 0;
    }

  private:
    void Close(uint32_t m) {
        moves_[m].open = false;
        targets_.erase(moves_[m].target);
        --left_;
    }

    // The clusters of a chain a file left: the moves whose targets they hold
    // come closer to ready.
    void Vacate(const fat::Extents& ext) {
        for (uint32_t k = 1; k <= ext.Count(); ++k) {
            const uint32_t first = ext.Starts[k];
            const uint32_t end = first + ext.Lens[k];
            standing_.erase(first);
            for (auto it = FirstOverlap(targets_, first); it != targets_.end() && it->first < end;
                 ++it) {
                const uint32_t w = it->second.second;
                const uint32_t overlap =
                    std::min(end, it->second.first) - std::max(first, it->first);
                if (!moves_[w].open) continue;
                moves_[w].taken -= overlap;
                if (moves_[w].taken == 0) ready_.push_back(w);
            }
        }
    }

    // Moves the file of m whole to the runs `to`: its target, or a parking place.
    bool MoveTo(uint32_t m, const fat::Extents& to) {
        fat::FatRun& run = e_.run;
        Waiting& w = moves_[m];
        const bool final = to.Count() == 1 && to.Starts[1] == w.target;
        fat::Extents ext;
        fat::GetExtents(run, run.model.FileTab[w.record].StartCluster, ext);
        if (run.flags.AbortRun != 0) return false;
        for (uint32_t k = 1; k <= to.Count(); ++k) {
            bool free = true;
            for (uint32_t c = to.Starts[k]; c < to.Starts[k] + to.Lens[k] && free; ++c)
                free = fat::IsFree(run, c);
            if (!free || !fat::FAT_Take_Run(run, to.Starts[k], to.Lens[k])) {
                fat::FAT_FREE_Segs(run);
                Close(m);  // the plan no longer matches the FAT
                return false;
            }
        }
        if (to.Count() == 1) {
            FAT_MOVE_File(e_, w.record, ext, w.len, to.Starts[1]);
        } else {
            FAT_Move_To_Runs(e_, w.record, ext, to);
        }
        if (run.model.FileTab[w.record].StartCluster != to.Starts[1]) {
            if (!Stopped(e_)) {
                Close(m);                 // refused: the file stays where it is
                fat::FAT_FREE_Segs(run);  // and the gap list is behind the FAT
            }
            return false;
        }
        Vacate(ext);
        if (final) {
            Close(m);
        } else {
            for (uint32_t k = 1; k <= to.Count(); ++k)
                standing_[to.Starts[k]] = {to.Starts[k] + to.Lens[k], m};
        }
        return true;
    }

    // The move whose file stands on the first used cluster of m's target, or
    // m itself when nothing the plan moves stands there.
    uint32_t Blocker(uint32_t m) const {
        const Waiting& w = moves_[m];
        uint32_t used = w.target;
        while (used < w.target + w.len && fat::IsFree(e_.run, used))
            ++used;
        const auto it = FirstOverlap(standing_, used);
        if (used == w.target + w.len || it == standing_.end() || it->first > used) return m;
        return moves_[it->second.second].open ? it->second.second : m;
    }

    // Every waiting target is still taken: a file standing on one is parked
    // where no target lies. False when none can be.
    bool Unblock() {
        for (uint32_t m = 0; m < moves_.size(); ++m) {
            if (!moves_[m].open) continue;
            const uint32_t b = Blocker(m);
            if (b == m && moves_[m].taken != 0 && !OnItsOwnTarget(m)) continue;
            fat::Extents park;
            if (ParkingRuns(moves_[b].len, park) && MoveTo(b, park)) return true;
            if (Stopped(e_)) return false;
        }
        return false;
    }

    // True when m's file stands on its own target (and blocks itself).
    bool OnItsOwnTarget(uint32_t m) const {
        const Waiting& w = moves_[m];
        for (auto it = FirstOverlap(standing_, w.target);
             it != standing_.end() && it->first < w.target + w.len; ++it)
            if (it->second.second == m) return true;
        return false;
    }

    // Free runs holding `len` clusters that no waiting target touches, from the
    // top of the volume down, in cluster order: one run where one will do, and
    // several only on a volume held alone (the mover's rule).
    bool ParkingRuns(uint32_t len, fat::Extents& park) const {
        std::vector<std::pair<uint32_t, uint32_t>> runs;
        uint64_t found = 0;
        const fat::VolumeModel& model = e_.run.model;
        for (uint32_t g = model.GapCount; g >= 1 && found < len; --g) {
            const uint32_t floor = model.GapStart[g];
            uint32_t top = floor + model.GapLen[g];
            // The targets inside the gap, from the top down; they do not overlap,
            // so their ends fall in the same order as their starts.
            auto it = targets_.lower_bound(top);
            while (top > floor && found < len) {
                uint32_t below = floor;
                if (it != targets_.begin() && std::prev(it)->second.first > floor)
                    below = std::max(std::prev(it)->second.first, floor);
                if (top > below) {
                    if (top - below >= len) {
                        park = fat::Extents::OneRun(top - len, len);
                        return true;
                    }
                    runs.emplace_back(below, top - below);
                    found += top - below;
                }
                if (it == targets_.begin() || std::prev(it)->second.first <= floor) break;
                --it;
                top = std::max(it->first, floor);
            }
        }
        if (found < len || !e_.run.io.Level0Lock) return false;
        park = fat::Extents{{0}, {0}};
        std::sort(runs.begin(), runs.end());
        uint32_t need = len;
        for (const auto& [first, n] : runs) {
            if (need == 0) break;
            park.Starts.push_back(first);
            park.Lens.push_back(std::min(n, need));
            need -= std::min(n, need);
        }
        return true;
    }

    Engine& e_;
    std::vector<Waiting> moves_;
    RunMap targets_;   // waiting targets
    RunMap standing_;  // where the files of waiting moves stand now
    std::vector<uint32_t> ready_;
    size_t left_ = 0;
};

// Calls visit(record, ext) for every record the plan may move, with its chain,
// after marking every used cluster in `fixed`. False on a chain that cannot be
// walked (the run stopped).
template <typename Visit>
bool ForEachMovable(fat::FatRun& run, std::vector<bool>& fixed, Visit visit) {
    const fat::VolumeModel& m = run.model;
    const uint32_t last = run.counters.LastCluster;
    fixed.assign(uint64_t{last} + 1, false);
    for (uint32_t c = 2; c <= last; ++c)
        fixed[c] = !fat::IsFree(run, c);
    fat::Extents ext;
    for (uint32_t i = 0; i < m.FileTab.size() && i < m.FileFixed.size(); ++i) {
        const uint32_t start = m.FileTab[i].StartCluster;
        if (start == 0 || m.FileFixed[i] != 0) continue;
        fat::GetExtents(run, start, ext);
        if (run.flags.AbortRun != 0) return false;
        for (uint32_t k = 1; k <= ext.Count(); ++k)
            for (uint32_t c = ext.Starts[k]; c < ext.Starts[k] + ext.Lens[k]; ++c)
                fixed[c] = false;
        visit(i, ext);
    }
    return true;
}

PlanFile AsPlanFile(uint32_t record, const fat::Extents& ext) {
    PlanFile f{record, {}, 0};
    for (uint32_t k = 1; k <= ext.Count(); ++k) {
        f.runs.emplace_back(ext.Starts[k], ext.Lens[k]);
        f.clusters += ext.Lens[k];
    }
    return f;
}

}  // namespace

PlanInput GatherPlanInput(fat::FatRun& run) {
    PlanInput in;
    in.lastCluster = run.counters.LastCluster;
    const bool whole = ForEachMovable(run, in.fixed, [&](uint32_t record, const fat::Extents& ext) {
        in.files.push_back(AsPlanFile(record, ext));
    });
    return whole ? in : PlanInput{};
}

uint64_t PlanLowerBound(fat::FatRun& run) {
    std::vector<bool> fixed;
    std::vector<FileSpan> spans;
    const bool whole = ForEachMovable(run, fixed, [&](uint32_t record, const fat::Extents& ext) {
        spans.push_back(SpanOf(AsPlanFile(record, ext)));
    });
    return whole ? LowerBoundClusters(fixed, run.counters.LastCluster, spans) : 0;
}

bool FAT_Plan_Pass(Engine& e) {
    const BatchScope batch(e);
    report::FAT_Active(e.report, "Plan");
    report::ShowTag(e.report, display::kStatusLine1, "Plan:", 15);
    report::ShowTag(e.report, display::kStatusLine2, "Moves left:", 15);
    report::LetEventsRun(e.report);
    const PlanInput input = GatherPlanInput(e.run);
    if (Stopped(e)) return false;
    const MovePlan plan = PlanMoves(input);
    // A plan that leaves a file without room would only add its moves to those
    // of the passes that must then finish the work.
    if (!plan.unplaced.empty()) return false;
    if (plan.moves.empty()) return true;
    fat::FAT_FREE_Segs(e.run);
    return PlanRun(e, input, plan).Run();
}

}  // namespace kestra::engine
