// The counts of the analysis on volumes made by mkfs.fat and mcopy, held against
// what mtools itself reports of the same volume.
#include <gtest/gtest.h>

#include "../analysis/analysis_fixture.h"
#include "fat/free_gaps.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

struct Case {
    const char* name;
    const char* mkfs;
    uint32_t kilobytes;
};

class ScanCountsTest : public ::testing::TestWithParam<Case> {};

TEST_P(ScanCountsTest, AgreeWithMtools) {
    const Case& c = GetParam();
    TempDir dir;
    const std::string img = dir.File("vol.img");
    MakeFragmentedVolume(img, c.mkfs, c.kilobytes);

    analysis::AnalysisFixture f(ReadFile(img));
    ASSERT_TRUE(f.Analyse()) << f.flags.ErrText;
    const Independent want = CountWithMtools(img, f.counters.LastCluster, f.geo.IsFat32);
    ASSERT_GT(want.fragmented, 0u);

    EXPECT_EQ(f.counters.PlainFileCount, want.files);
    EXPECT_EQ(f.counters.FolderCount, want.folders + (f.geo.IsFat32 ? 1 : 0));
    EXPECT_EQ(f.counters.EmptyFileCount, want.empty);
    EXPECT_EQ(f.counters.ErasedEntryCount, 4u);
    EXPECT_EQ(f.counters.ChainCount,
              want.files + want.folders - want.empty + (f.geo.IsFat32 ? 1 : 0));
    EXPECT_EQ(f.counters.FragmentedCount, want.fragmented);
    EXPECT_EQ(f.model.GapCount, want.gaps.size());
    EXPECT_EQ(fat::FreeSpaceSectors(f.run), want.freeClusters * f.geo.SectorsPerCluster);
    EXPECT_EQ(f.fake->Writes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Volumes, ScanCountsTest,
                         ::testing::Values(Case{"Fat12Floppy", "-F 12", 1440},
                                           Case{"Fat16", "-F 16 -s 1", 16384},
                                           Case{"Fat32", "-F 32 -s 1", 66000}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kestra::testing
