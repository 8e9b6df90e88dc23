// kestra-cli defrag and demo on volumes mkfs.fat and mtools made, judged by
// fsck.fat -n, by reading every file back with mtools, and by the cluster runs
// mshowfat lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <regex>

#include "integration/cli.h"
#include "support/image.h"
#include "support/image_checks.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"
#include "support/tree_checks.h"

namespace kestra::testing {
namespace {

uint32_t ClusterCount(const std::string& volume) {
    const CommandResult info = RunCommand(Cli("info " + ShellQuote(volume)));
    const size_t at = info.output.find("Clusters=");
    EXPECT_NE(at, std::string::npos) << info.output;
    return at == std::string::npos ? 0 : std::stoul(info.output.substr(at + 9));
}

// Fills all but about `keepKb` of the free space with 24 KB files, in one mcopy.
void FillUpTo(const std::string& image, uint32_t keepKb) {
    static const std::regex freeBytes(R"(([\d ]+) bytes free)");
    std::smatch m;
    const std::string listing = Mdir(image).output;
    ASSERT_TRUE(std::regex_search(listing, m, freeBytes)) << listing;
    std::string digits = m[1];
    std::erase(digits, ' ');
    const uint64_t freeKb = std::stoull(digits) / 1024;
    ASSERT_GT(freeKb, keepKb + 24);
    const uint64_t files = (freeKb - keepKb) / 24;
    TempDir fill;
    std::string names;
    for (uint64_t i = 0; i < files; ++i) {
        const std::string f = fill.File("FILL" + std::to_string(i) + ".BIN");
        names += " " + f;
        WriteFile(f, SeededBytes(static_cast<uint32_t>(1000 + i), 24 * 1024));
    }
    const CommandResult r =
        RunCommand("MTOOLS_SKIP_CHECK=1 mmd -i " + image + " ::/FILL && " +
                   "MTOOLS_SKIP_CHECK=1 mcopy -i " + image + names + " ::/FILL/");
    ASSERT_EQ(r.exitStatus, 0) << r.output;
}

struct Case {
    const char* name;
    const char* mkfs;
    uint32_t kilobytes;
    bool fat32;
    bool inMbr;  // defragment it as partition 1 of an MBR disk
    bool nearlyFull;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

constexpr uint32_t kPartitionStart = 2048;

// fsck.fat takes no offset: the partition is checked as a file of its own.
::testing::AssertionResult PartitionFsckClean(const std::string& disk, TempDir& dir) {
    const std::vector<uint8_t> bytes = ReadFile(disk);
    const std::string part = dir.File("part.img");
    WriteFile(part, std::vector<uint8_t>(bytes.begin() + kPartitionStart * 512, bytes.end()));
    return FsckClean(part);
}

class CliDefragTest : public ::testing::TestWithParam<Case> {};

TEST_P(CliDefragTest, LeavesEveryFileWholeContiguousAndTheFreeSpaceAtTheEnd) {
    const Case& c = GetParam();
    TempDir dir;
    std::string volume = dir.File("vol.img");
    MakeFragmentedVolume(volume, c.mkfs, c.kilobytes);
    if (c.nearlyFull) FillUpTo(volume, 160);
    std::string mtoolsImage = volume;
    const std::string disk = dir.File("disk.img");
    std::vector<uint8_t> head;  // the MBR and the sectors before the partition
    if (c.inMbr) {
        const std::vector<uint8_t> bytes = WrapInMbr(ReadFile(volume), 1, kPartitionStart);
        head.assign(bytes.begin(), bytes.begin() + kPartitionStart * 512);
        WriteFile(disk, bytes);
        volume = disk + "@1";
        mtoolsImage = disk + "@@" + std::to_string(kPartitionStart * 512);
    }
    const uint32_t maxCluster = ClusterCount(volume) + 1;
    Tree before;
    ASSERT_TRUE(CopyOutTree(mtoolsImage, before));
    const Independent was = CountWithMtools(mtoolsImage, maxCluster, c.fat32);
    ASSERT_GT(was.fragmented, 0u);

    const CommandResult r = RunCommand(Cli("defrag " + ShellQuote(volume)));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_TRUE(c.inMbr ? PartitionFsckClean(disk, dir) : FsckClean(volume)) << r.output;
    if (c.inMbr) {
        const std::vector<uint8_t> bytes = ReadFile(disk);
        EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()))
            << "written outside the partition";
    }
    Tree after;
    ASSERT_TRUE(CopyOutTree(mtoolsImage, after));
    EXPECT_TRUE(SameTree(before, after));

    const Independent now = CountWithMtools(mtoolsImage, maxCluster, c.fat32);
    EXPECT_EQ(now.files, was.files);
    EXPECT_EQ(now.folders, was.folders);
    EXPECT_EQ(now.freeClusters, was.freeClusters);
    // A nearly full volume may lack room for some; it never ends up worse.
    if (c.nearlyFull)
        EXPECT_LE(now.fragmented, was.fragmented) << r.output;
    else
        EXPECT_EQ(now.fragmented, 0u) << r.output;
    // No fixed files here, so nothing stands in the pack's way.
    ASSERT_FALSE(now.gaps.empty());
    EXPECT_EQ(now.gaps.size(), 1u) << "first gap at " << now.gaps.front().first << ", "
                                   << now.gaps.front().second << " clusters\n"
                                   << r.output;
    EXPECT_EQ(now.gaps.back().first + now.gaps.back().second - 1, maxCluster);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, CliDefragTest,
    ::testing::Values(Case{"Fat12Floppy", "-F 12", 1440, false, false, false},
                      Case{"Fat16", "-F 16 -s 4", 32768, false, false, false},
                      Case{"Fat32HalfKbClusters", "-F 32 -s 1", 66000, true, false, false},
                      Case{"Fat32FourKbClusters", "-F 32 -s 8", 300000, true, false, false},
                      Case{"Fat32InMbr", "-F 32 -s 1", 66000, true, true, false},
                      Case{"Fat16NearlyFull", "-F 16 -s 1", 4096, false, false, true}),
    [](const auto& info) { return info.param.name; });

TEST(CliDefragNoPackTest, DefragmentsButLeavesTheGaps) {
    TempDir dir;
    const std::string img = dir.File("vol.img");
    MakeFragmentedVolume(img, "-F 16 -s 4", 32768);
    const uint32_t maxCluster = ClusterCount(img) + 1;
    Tree before;
    ASSERT_TRUE(CopyOutTree(img, before));

    const CommandResult r = RunCommand(Cli("defrag --no-pack " + img));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_TRUE(FsckClean(img));
    Tree after;
    ASSERT_TRUE(CopyOutTree(img, after));
    EXPECT_TRUE(SameTree(before, after));
    const Independent now = CountWithMtools(img, maxCluster, false);
    EXPECT_EQ(now.fragmented, 0u) << r.output;
    EXPECT_GT(now.gaps.size(), 1u);
}

TEST(CliDefragDemoTest, LeavesACleanDefragmentedVolume) {
    TempDir dir;
    const CommandResult r = RunCommand(Cli("demo " + dir.File("demo")));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    const std::string img = dir.File("demo/demo.img");
    EXPECT_TRUE(FsckClean(img)) << r.output;
    Tree tree;
    ASSERT_TRUE(CopyOutTree(img, tree));
    EXPECT_GT(tree.size(), 30u);
    EXPECT_EQ(CountWithMtools(img, ClusterCount(img) + 1, false).fragmented, 0u);
}

}  // namespace
}  // namespace kestra::testing
