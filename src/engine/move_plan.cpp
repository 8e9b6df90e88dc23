#include "engine/move_plan.h"

#include <algorithm>
#include <limits>
#include <set>

namespace kestra::engine {
namespace {

// What stands on a cluster of the region while the plan is made: a file that
// stays (its index + 1), a hole, a fixed cluster or a run promised to a file.
constexpr uint32_t kHole = 0;
constexpr uint32_t kFixed = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kPromised = kFixed - 1;

// Rounds of clearing runs for the files no hole took, and how many such files
// each round clears a run for before the holes are filled again.
constexpr int kRounds = 64;
constexpr size_t kClearedPerRound = 16;
// Holes tried, smallest first, for one that does not lie on the file itself.
constexpr int kHoleTries = 8;

enum class Fate : uint8_t { Stays, Moves, Promised, Left };

uint32_t EndOf(const PlanFile& f) {
    uint32_t end = 0;
    for (const auto& [first, len] : f.runs)
        end = std::max(end, first + len);
    return end;
}

bool Overlaps(const PlanFile& f, uint32_t first, uint32_t len) {
    for (const auto& [s, n] : f.runs)
        if (s < first + len && first < s + n) return true;
    return false;
}

struct Planner {
    const PlanInput& in;
    uint32_t end;                  // region end
    std::vector<uint32_t> owner;   // by cluster below `end`
    std::vector<Fate> fate;        // by file
    std::vector<uint32_t> target;  // by file, once promised or placed
    uint32_t largestHole = 0;      // left by the last filling

    void Fill(uint32_t f, uint32_t value) {
        for (const auto& [first, len] : in.files[f].runs)
            for (uint32_t c = first; c < first + len && c < end; ++c)
                if (owner[c] != kFixed && owner[c] != kPromised) owner[c] = value;
    }

    // What clearing one cluster of a file that stays costs: a file no hole left
    // can take will need a run cleared for it in turn, so it counts twice.
    uint64_t Weight(uint32_t o) const { return in.files[o - 1].clusters > largestHole ? 2 : 1; }

    // The run of `len` clusters holding nothing fixed or promised whose clearing
    // moves the fewest clusters of files that stay (whole files: one standing
    // across an edge moves too), by Weight. False when there is none.
    bool CheapestRun(uint32_t len, uint32_t& best) const {
        if (len == 0 || end < 2 + len) return false;
        uint64_t stay = 0;
        uint32_t blocked = 0;
        // Cluster c enters the run (or, with !in, leaves it).
        auto add = [&](uint32_t c, bool in) {
            const uint32_t o = owner[c];
            if (o == kFixed || o == kPromised) {
                in ? ++blocked : --blocked;
            } else if (o != kHole) {
                in ? stay += Weight(o) : stay -= Weight(o);
            }
        };
        for (uint32_t c = 2; c < 2 + len; ++c)
            add(c, true);
        uint64_t bestCost = std::numeric_limits<uint64_t>::max();
        for (uint32_t a = 2;; ++a) {
            if (blocked == 0) {
                uint64_t cost = stay;
                const uint32_t left = owner[a];
                if (left != kHole && left != kFixed && left != kPromised) {
                    cost += (a - in.files[left - 1].runs[0].first) * Weight(left);
                }
                const uint32_t right = owner[a + len - 1];
                if (right != kHole && right != kFixed && right != kPromised) {
                    const PlanFile& f = in.files[right - 1];
                    cost += (f.runs[0].first + f.runs[0].second - (a + len)) * Weight(right);
                }
                if (cost < bestCost) {
                    bestCost = cost;
                    best = a;
                    if (cost == 0) return true;
                }
            }
            if (a + len >= end) break;
            add(a, false);
            add(a + len, true);
        }
        return bestCost != std::numeric_limits<uint64_t>::max();
    }

    // Promises file u the cheapest run; the files standing there move instead.
    void Promise(uint32_t u) {
        const uint32_t len = in.files[u].clusters;
        uint32_t at = 0;
        if (!CheapestRun(len, at)) {
            fate[u] = Fate::Left;
            Fill(u, kFixed);  // it stays where it is; nothing may be planned onto it
            return;
        }
        for (uint32_t c = at; c < at + len; ++c) {
            const uint32_t o = owner[c];
            if (o != kHole && o != kFixed && o != kPromised) {
                fate[o - 1] = Fate::Moves;
                Fill(o - 1, kHole);
            }
        }
        for (uint32_t c = at; c < at + len; ++c)
            owner[c] = kPromised;
        fate[u] = Fate::Promised;
        target[u] = at;
    }

    // Largest first into the smallest hole that takes it; the files no hole took.
    std::vector<uint32_t> FillHoles() {
        std::multiset<std::pair<uint32_t, uint32_t>> holes;  // length, first
        for (uint32_t c = 2; c < end;) {
            if (owner[c] != kHole) {
                ++c;
                continue;
            }
            uint32_t e = c;
            while (e < end && owner[e] == kHole)
                ++e;
            holes.emplace(e - c, c);
            c = e;
        }
        std::vector<uint32_t> items;
        for (uint32_t f = 0; f < fate.size(); ++f)
            if (fate[f] == Fate::Moves) items.push_back(f);
        std::stable_sort(items.begin(), items.end(), [&](uint32_t a, uint32_t b) {
            return in.files[a].clusters > in.files[b].clusters;
        });
        std::vector<uint32_t> unplaced;
        for (const uint32_t f : items) {
            const uint32_t len = in.files[f].clusters;
            auto it = holes.lower_bound({len, 0});
            auto pick = it;
            for (int tries = 0; it != holes.end() && tries < kHoleTries; ++it, ++tries) {
                if (!Overlaps(in.files[f], it->second, len)) {
                    pick = it;
                    break;
                }
            }
            if (pick == holes.end()) {
                unplaced.push_back(f);
                continue;
            }
            const auto [hlen, first] = *pick;
            holes.erase(pick);
            if (hlen > len) holes.emplace(hlen - len, first + len);
            target[f] = first;
        }
        largestHole = holes.empty() ? 0 : holes.rbegin()->first;
        return unplaced;
    }
};

}  // namespace

FileSpan SpanOf(const PlanFile& f) {
    return {f.clusters, EndOf(f), f.runs.size() == 1};
}

uint32_t RegionEnd(const std::vector<bool>& fixed, uint32_t lastCluster, uint64_t movable) {
    uint32_t c = 2;
    for (; movable > 0 && c <= lastCluster; ++c)
        if (!fixed[c]) --movable;
    return c;
}

uint64_t LowerBoundClusters(const std::vector<bool>& fixed, uint32_t lastCluster,
                            const std::vector<FileSpan>& files) {
    uint64_t movable = 0;
    for (const FileSpan& f : files)
        movable += f.clusters;
    const uint32_t end = RegionEnd(fixed, lastCluster, movable);
    uint64_t bound = 0;
    for (const FileSpan& f : files)
        if (!f.whole || f.end > end) bound += f.clusters;
    return bound;
}

MovePlan PlanMoves(const PlanInput& in) {
    MovePlan plan;
    std::vector<FileSpan> spans;
    uint64_t movable = 0;
    for (const PlanFile& f : in.files) {
        spans.push_back(SpanOf(f));
        movable += f.clusters;
    }
    plan.regionEnd = RegionEnd(in.fixed, in.lastCluster, movable);
    plan.lowerBound = LowerBoundClusters(in.fixed, in.lastCluster, spans);
    Planner p{in, plan.regionEnd, std::vector<uint32_t>(plan.regionEnd, kHole),
              std::vector<Fate>(in.files.size(), Fate::Moves),
              std::vector<uint32_t>(in.files.size(), 0)};
    for (uint32_t c = 2; c < p.end; ++c)
        if (in.fixed[c]) p.owner[c] = kFixed;
    for (uint32_t f = 0; f < in.files.size(); ++f) {
        if (spans[f].whole && spans[f].end <= p.end) {
            p.fate[f] = Fate::Stays;
            p.Fill(f, f + 1);
        }
    }
    std::vector<uint32_t> unplaced = p.FillHoles();
    for (int round = 0; !unplaced.empty() && round < kRounds; ++round) {
        for (size_t k = 0; k < unplaced.size() && k < kClearedPerRound; ++k)
            p.Promise(unplaced[k]);
        unplaced = p.FillHoles();
    }
    // What still found no room stays where it is, and no other file may be
    // planned onto it.
    while (!unplaced.empty()) {
        for (const uint32_t f : unplaced) {
            p.fate[f] = Fate::Left;
            p.Fill(f, kFixed);
        }
        unplaced = p.FillHoles();
    }
    for (uint32_t f = 0; f < in.files.size(); ++f) {
        if (p.fate[f] == Fate::Left) plan.unplaced.push_back(f);
        if (p.fate[f] != Fate::Moves && p.fate[f] != Fate::Promised) continue;
        plan.moves.push_back({f, p.target[f]});
        plan.clusters += in.files[f].clusters;
    }
    return plan;
}

}  // namespace kestra::engine
