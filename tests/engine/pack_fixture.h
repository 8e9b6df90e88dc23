#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/pack_lists.h"
#include "engine/pack_pass.h"
#include "fat/free_gaps.h"
#include "write_back_fixture.h"

namespace kestra::engine {

using Gap = std::pair<uint32_t, uint32_t>;  // first cluster, length

// An analysed volume as the defragmentation driver hands it to the pack pass:
// pack requested, gap list rebuilt, level-0 lock held.
struct PackFixture : WriteBackFixture {
    explicit PackFixture(const testing::FatImage& image) : WriteBackFixture(image) {
        mode.DefragMode = 3;
        counters.FragmentedToDo = counters.FragmentedCount - counters.FragmentedFixedCount;
        fat::FAT_FREE_Segs(run);
    }

    uint32_t StartOf(uint32_t record) const { return model.FileTab[record].StartCluster; }

    // The free gaps as a fresh rebuild finds them.
    std::vector<Gap> Gaps() {
        fat::FAT_FREE_Segs(run);
        std::vector<Gap> out;
        for (uint32_t g = 1; g <= model.GapCount; ++g)
            out.emplace_back(model.GapStart[g], model.GapLen[g]);
        return out;
    }

    // The candidates as the pass lists them, sorted and bucketed.
    PackCandidates Candidates() {
        PackCandidates c;
        ListPackCandidates(engine, c);
        SortByStart(c.list);
        EXPECT_TRUE(FillClassLists(engine, c));
        return c;
    }

    // Start clusters along one class list, from its head.
    std::vector<uint32_t> ClassStarts(const PackCandidates& c, int cls) const {
        std::vector<uint32_t> out;
        for (uint32_t n = c.ClassHead[cls]; n != kEndMark && out.size() <= c.list.size();
             n = c.ClassNext[n])
            out.push_back(StartOf(c.list[n].index));
        return out;
    }
};

// Lays files out cluster by cluster from a given start, so each test says
// exactly where the gaps are.
class ClusterPlan {
  public:
    ClusterPlan(image::ImageBuilder& b, uint32_t first) : b_(b), at_(first) {
        cb_ = b.options().sectorsPerCluster * 512u;
    }
    void Skip(uint32_t clusters) { at_ += clusters; }
    void MoveTo(uint32_t cluster) { at_ = cluster; }
    uint32_t At() const { return at_; }

    testing::NodeId File(testing::NodeId parent, uint32_t clusters) {
        return Pieces(parent, {{at_, clusters}});
    }
    testing::NodeId Pieces(testing::NodeId parent, image::Runs runs) {
        uint32_t total = 0;
        for (const image::Run& r : runs) {
            total += r.length;
            if (r.start == at_) at_ += r.length;
        }
        const int n = count_++;
        // Any size that needs exactly `total` clusters.
        const size_t size = size_t{total} * cb_ - (size_t(n) * 37) % cb_;
        return b_.AddFile(parent, "F" + std::to_string(n) + ".BIN", image::SeededBytes(n, size),
                          runs);
    }
    testing::NodeId Folder(testing::NodeId parent, const std::string& name, uint32_t clusters = 1) {
        const testing::NodeId id = b_.AddFolder(parent, name, {{at_, clusters}});
        at_ += clusters;
        return id;
    }

  private:
    image::ImageBuilder& b_;
    uint32_t at_;
    uint32_t cb_ = 512;
    int count_ = 0;
};

inline std::string Describe(const std::vector<Gap>& gaps) {
    std::string s;
    for (const auto& [start, len] : gaps)
        s += "{" + std::to_string(start) + "," + std::to_string(len) + "}";
    return s.empty() ? "none" : s;
}

// All free space is one gap that reaches the last cluster.
inline ::testing::AssertionResult FreeSpaceAtTheEnd(PackFixture& f) {
    const std::vector<Gap> gaps = f.Gaps();
    if (gaps.size() == 1 && gaps[0].first + gaps[0].second - 1 == f.counters.LastCluster) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "gaps " << Describe(gaps);
}

}  // namespace kestra::engine
