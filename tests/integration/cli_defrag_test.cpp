// kestra-cli defrag and demo on volumes mkfs.fat and mtools made, judged by
// fsck.fat -n, by reading every file back with mtools, and by an independent
// walk of the FAT for pieces and gaps.
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
#include "support/volume_reader.h"

namespace kestra::testing {
namespace {

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

// Pieces of files and folders, and free gaps, as an independent walk finds them.
struct Shape {
    size_t fragmented = 0;
    std::vector<std::pair<uint32_t, uint32_t>> gaps;
    uint32_t maxCluster = 0;
    bool FreeSpaceAtTheEnd() const {
        return gaps.size() == 1 && gaps[0].first + gaps[0].second - 1 == maxCluster;
    }
};

Shape ShapeOf(const std::vector<uint8_t>& bytes, size_t offset = 0) {
    const ReadVolume v = ReadFatVolume(std::span(bytes).subspan(offset));
    EXPECT_EQ(v.error, "");
    Shape s{0, v.gaps, v.maxCluster};
    for (const ReadItem& item : v.items)
        s.fragmented += item.Extents() > 1;
    return s;
}

struct Case {
    const char* name;
    const char* mkfs;
    uint32_t kilobytes;
    bool inMbr;  // defragment it as partition 1 of an MBR disk
    bool nearlyFull;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

constexpr uint32_t kPartitionStart = 2048;

class CliDefragTest : public ::testing::TestWithParam<Case> {};

TEST_P(CliDefragTest, LeavesEveryFileWholeContiguousAndTheFreeSpaceAtTheEnd) {
    const Case& c = GetParam();
    TempDir dir;
    std::string volume = dir.File("vol.img");
    MakeFragmentedVolume(volume, c.mkfs, c.kilobytes);
    if (c.nearlyFull) FillUpTo(volume, 160);
    std::string mtoolsImage = volume;
    const std::string disk = dir.File("disk.img");
    const size_t offset = c.inMbr ? size_t{kPartitionStart} * 512 : 0;
    if (c.inMbr) {
        WriteFile(disk, WrapInMbr(ReadFile(volume), 1, kPartitionStart));
        volume = disk + "@1";
        mtoolsImage = disk + "@@" + std::to_string(offset);
    }
    const std::vector<uint8_t> old = ReadFile(c.inMbr ? disk : volume);
    Tree before;
    ASSERT_TRUE(CopyOutTree(mtoolsImage, before));
    const Shape was = ShapeOf(old, offset);
    ASSERT_GT(was.fragmented, 0u);

    const CommandResult r = RunCommand(Cli("defrag " + ShellQuote(volume)));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    const std::vector<uint8_t> now = ReadFile(c.inMbr ? disk : volume);
    // fsck.fat takes no offset: the partition is checked as a file of its own.
    const std::string part = dir.File("part.img");
    WriteFile(part,
              std::vector<uint8_t>(now.begin() + static_cast<std::ptrdiff_t>(offset), now.end()));
    EXPECT_TRUE(FsckClean(part)) << r.output;
    EXPECT_TRUE(
        std::equal(old.begin(), old.begin() + static_cast<std::ptrdiff_t>(offset), now.begin()))
        << "written outside the partition";
    Tree after;
    ASSERT_TRUE(CopyOutTree(mtoolsImage, after));
    EXPECT_TRUE(SameTree(before, after));
    const Shape is = ShapeOf(now, offset);
    // A nearly full volume may lack room for some; it never ends up worse.
    EXPECT_LE(is.fragmented, c.nearlyFull ? was.fragmented : 0) << r.output;
    EXPECT_TRUE(is.FreeSpaceAtTheEnd()) << is.gaps.size() << " gaps\n" << r.output;
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, CliDefragTest,
    ::testing::Values(Case{"Fat12Floppy", "-F 12", 1440, false, false},
                      Case{"Fat32FourKbClusters", "-F 32 -s 8", 300000, false, false},
                      Case{"Fat32InMbr", "-F 32 -s 1", 66000, true, false},
                      Case{"Fat16NearlyFull", "-F 16 -s 1", 4096, false, true}),
    [](const auto& info) { return info.param.name; });

TEST(CliDefragNoPackTest, DefragmentsButLeavesTheGaps) {
    TempDir dir;
    const std::string img = dir.File("vol.img");
    MakeFragmentedVolume(img, "-F 16 -s 4", 32768);
    Tree before;
    ASSERT_TRUE(CopyOutTree(img, before));

    const CommandResult r = RunCommand(Cli("defrag --no-pack " + img));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_TRUE(FsckClean(img));
    Tree after;
    ASSERT_TRUE(CopyOutTree(img, after));
    EXPECT_TRUE(SameTree(before, after));
    const Shape is = ShapeOf(ReadFile(img));
    EXPECT_EQ(is.fragmented, 0u) << r.output;
    EXPECT_GT(is.gaps.size(), 1u);
}

// The demo, and the volume of a random seed that lies in a partition.
TEST(CliDefragDemoTest, LeavesACleanDefragmentedVolume) {
    TempDir dir;
    for (const std::string& args : {std::string(), std::string("--seed 10 ")}) {
        const CommandResult r = RunCommand(Cli("demo " + args + dir.File("demo")));
        ASSERT_EQ(r.exitStatus, 0) << r.output;
        const std::string img = dir.File("demo/demo.img");
        const std::vector<uint8_t> bytes = ReadFile(img);
        // The seed's volume lies in partition 1; its start is in the MBR.
        const size_t offset =
            args.empty() ? 0 : 512 * size_t(bytes[454] | bytes[455] << 8 | bytes[456] << 16);
        const std::string part = dir.File("part.img");
        WriteFile(part, std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                             bytes.end()));
        EXPECT_TRUE(FsckClean(part)) << r.output;
        EXPECT_EQ(ShapeOf(bytes, offset).fragmented, 0u);
        Tree tree;
        ASSERT_TRUE(CopyOutTree(args.empty() ? img : img + "@@" + std::to_string(offset), tree));
        EXPECT_GT(tree.size(), 30u);
    }
}

}  // namespace
}  // namespace kestra::testing
