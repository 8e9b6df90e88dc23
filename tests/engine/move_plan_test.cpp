#include "engine/move_plan.h"

#include <gtest/gtest.h>

#include <random>

namespace kestra::engine {
namespace {

PlanFile File(uint32_t record, std::vector<std::pair<uint32_t, uint32_t>> runs) {
    uint32_t clusters = 0;
    for (const auto& r : runs)
        clusters += r.second;
    return {record, std::move(runs), clusters};
}

PlanInput Volume(uint32_t last, std::vector<PlanFile> files, std::vector<uint32_t> fixed = {}) {
    PlanInput in{last, std::vector<bool>(last + 1, false), std::move(files)};
    for (uint32_t c : fixed)
        in.fixed[c] = true;
    return in;
}

std::vector<std::pair<uint32_t, uint32_t>> Moves(const MovePlan& p, const PlanInput& in) {
    std::vector<std::pair<uint32_t, uint32_t>> out;  // record, target
    for (const PlannedMove& m : p.moves)
        out.emplace_back(in.files[m.file].record, m.target);
    return out;
}

using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;

TEST(MovePlanTest, MovesOnlyTheFragmentedAndWhatLiesBeyondTheData) {
    // A stays; B is in pieces (one in the hole it is given); C lies beyond the
    // 8 clusters the data will take.
    const PlanInput in =
        Volume(20, {File(1, {{2, 3}}), File(2, {{5, 1}, {9, 2}}), File(3, {{11, 2}})});
    const MovePlan p = PlanMoves(in);
    EXPECT_EQ(p.regionEnd, 10u);
    EXPECT_EQ(p.lowerBound, 5u);
    EXPECT_EQ(p.clusters, 5u);
    EXPECT_EQ(Moves(p, in), (Pairs{{2, 5}, {3, 8}}));
    EXPECT_TRUE(p.unplaced.empty());
}

TEST(MovePlanTest, FixedClustersStayInsideTheData) {
    // Cluster 3 is in use by another program: the data region reaches one further.
    const PlanInput in = Volume(20, {File(1, {{2, 1}}), File(2, {{12, 2}})}, {3});
    const MovePlan p = PlanMoves(in);
    EXPECT_EQ(p.regionEnd, 6u);
    EXPECT_EQ(Moves(p, in), (Pairs{{2, 4}}));
}

TEST(MovePlanTest, AFileNoHoleTakesClearsTheCheapestRun) {
    // Holes of one cluster at 4 and 6; the two-cluster file beyond them costs
    // the one-cluster file at 5 a move, the cheapest run to clear.
    const PlanInput in =
        Volume(20, {File(1, {{2, 2}}), File(2, {{5, 1}}), File(3, {{7, 3}}), File(4, {{12, 2}})});
    const MovePlan p = PlanMoves(in);
    EXPECT_EQ(p.regionEnd, 10u);
    EXPECT_EQ(p.lowerBound, 2u);
    EXPECT_EQ(p.clusters, 3u);
    EXPECT_EQ(Moves(p, in), (Pairs{{2, 6}, {4, 4}}));
}

// Random volumes: every plan keeps to its region, never lands on a fixed
// cluster or on a file that stays, gives disjoint targets, and leaves nothing
// in pieces or beyond the region that it does not move or name as unplaced.
TEST(MovePlanTest, PlansAreSoundOnRandomVolumes) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        const uint32_t last = 20 + rng() % 400;
        PlanInput in{last, std::vector<bool>(last + 1, false), {}};
        std::vector<bool> used(last + 1, false);
        for (uint32_t c = 2; c <= last; ++c)
            if (rng() % 30 == 0) in.fixed[c] = used[c] = true;
        for (uint32_t f = 0; f < 40; ++f) {
            PlanFile file{f + 1, {}, 0};
            const uint32_t pieces = 1 + rng() % 3;
            for (uint32_t k = 0; k < pieces; ++k) {
                const uint32_t at = 2 + rng() % (last - 1), len = 1 + rng() % 6;
                uint32_t n = 0;
                while (at + n <= last && n < len && !used[at + n])
                    used[at + n++] = true;
                if (n > 0) file.runs.emplace_back(at, n);
                file.clusters += n;
            }
            if (file.clusters > 0) in.files.push_back(file);
        }
        const MovePlan p = PlanMoves(in);
        std::vector<int> owner(last + 1, 0);  // 1 stays, 2 target
        std::vector<bool> moves(in.files.size(), false);
        for (const PlannedMove& m : p.moves)
            moves[m.file] = true;
        for (uint32_t u : p.unplaced)
            moves[u] = true;
        for (uint32_t f = 0; f < in.files.size(); ++f) {
            if (moves[f]) continue;
            ASSERT_EQ(in.files[f].runs.size(), 1u) << round;
            for (uint32_t c = in.files[f].runs[0].first;
                 c < in.files[f].runs[0].first + in.files[f].runs[0].second; ++c) {
                ASSERT_LT(c, p.regionEnd) << round;
                owner[c] = 1;
            }
        }
        for (const PlannedMove& m : p.moves) {
            for (uint32_t c = m.target; c < m.target + in.files[m.file].clusters; ++c) {
                ASSERT_LT(c, p.regionEnd) << round;
                ASSERT_FALSE(in.fixed[c]) << round << " cluster " << c;
                ASSERT_EQ(owner[c], 0) << round << " cluster " << c;
                owner[c] = 2;
            }
        }
        uint64_t left = 0;
        for (uint32_t u : p.unplaced)
            left += in.files[u].clusters;
        EXPECT_GE(p.clusters + left, p.lowerBound) << round;
    }
}

}  // namespace
}  // namespace kestra::engine
