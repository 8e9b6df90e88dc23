// kestra-cli defrag and demo on volumes mkfs.fat and mtools made, judged by
// fsck.fat -n, by reading every file back with mtools, and by an independent
// walk of the FAT for pieces and gaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

#include "integration/cli.h"
#include "support/image.h"
#include "support/image_checks.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"
#include "support/tree_checks.h"
#include "support/volume_reader.h"

namespace kestra::testing {
namespace {

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

// fsck.fat takes no offset: a partition is checked as a file of its own.
::testing::AssertionResult FsckAt(const TempDir& dir, const std::vector<uint8_t>& bytes,
                                  size_t offset) {
    const std::string part = dir.File("part.img");
    WriteFile(part, std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                         bytes.end()));
    return FsckClean(part);
}

struct Case {
    const char* name;
    const char* mkfs;
    uint32_t kilobytes;
    bool inMbr;  // defragment it as partition 1 of an MBR disk
    bool pack;   // false: --no-pack, which leaves the gaps
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

    // The file tools see not one byte changed.
    const std::string home = "KESTRA_HOME=" + ShellQuote(dir.File("home")) + " ";
    ASSERT_EQ(RunCommand(home + Cli("checksum " + ShellQuote(volume))).exitStatus, 0);
    const CommandResult r =
        RunCommand(Cli(std::string("defrag ") + (c.pack ? "" : "--no-pack ") + ShellQuote(volume)));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    const CommandResult same = RunCommand(home + Cli("validate " + ShellQuote(volume)));
    EXPECT_EQ(same.exitStatus, 0) << same.output;
    EXPECT_NE(same.output.find("\nNo Differences\n"), std::string::npos) << same.output;
    const std::vector<uint8_t> now = ReadFile(c.inMbr ? disk : volume);
    EXPECT_TRUE(FsckAt(dir, now, offset)) << r.output;
    EXPECT_TRUE(
        std::equal(old.begin(), old.begin() + static_cast<std::ptrdiff_t>(offset), now.begin()))
        << "written outside the partition";
    Tree after;
    ASSERT_TRUE(CopyOutTree(mtoolsImage, after));
    EXPECT_TRUE(SameTree(before, after));
    const Shape is = ShapeOf(now, offset);
    EXPECT_EQ(is.fragmented, 0u) << r.output;
    EXPECT_EQ(is.FreeSpaceAtTheEnd(), c.pack) << is.gaps.size() << " gaps\n" << r.output;
}

INSTANTIATE_TEST_SUITE_P(Volumes, CliDefragTest,
                         ::testing::Values(Case{"Fat12Floppy", "-F 12", 1440, false, true},
                                           Case{"Fat32FourKbClusters", "-F 32 -s 8", 300000, false,
                                                true},
                                           Case{"Fat32InMbr", "-F 32 -s 1", 66000, true, true},
                                           Case{"Fat16NoPack", "-F 16 -s 4", 32768, false, false}),
                         [](const auto& info) { return info.param.name; });

// --only: the named files end whole, nothing else moves; a missing name, or a
// file no free run can hold, changes nothing for it and exits 6.
TEST(CliDefragOnlyTest, MovesOnlyTheNamedFilesAndSaysWhatItCouldNot) {
    TempDir dir;
    const std::string img = dir.File("vol.img");
    MakeFragmentedVolume(img, "-F 16 -s 1", 4096);
    const ReadVolume was = ReadFatVolume(ReadFile(img));
    std::string named;
    for (const ReadItem& item : was.items)
        if (!item.folder && item.Extents() > 1 && named.empty()) named = item.path;
    ASSERT_NE(named, "");
    Tree before;
    ASSERT_TRUE(CopyOutTree(img, before));
    // In lower case with backslashes, as a user might type it; and a folder.
    std::string typed = named;
    std::transform(typed.begin(), typed.end(), typed.begin(), [](char ch) {
        return ch == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    });
    CommandResult r =
        RunCommand(Cli("defrag " + img + " --only " + ShellQuote(typed) + " /DOCS/DEEP"));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_TRUE(FsckClean(img));
    Tree after;
    ASSERT_TRUE(CopyOutTree(img, after));
    EXPECT_TRUE(SameTree(before, after));
    const ReadVolume now = ReadFatVolume(ReadFile(img));
    ASSERT_EQ(now.items.size(), was.items.size());
    for (size_t i = 0; i < now.items.size(); ++i) {
        const ReadItem& item = now.items[i];
        if (item.path == named || item.path.rfind("/DOCS/DEEP/", 0) == 0)
            EXPECT_LE(item.Extents(), 1u) << item.path;
        else
            EXPECT_EQ(item.clusters, was.items[i].clusters) << item.path;
    }

    // A fresh copy, its free space filled but for half of what the file needs.
    const std::string full = dir.File("full.img");
    MakeFragmentedVolume(full, "-F 16 -s 1", 4096);
    const size_t clusters =
        was.items[static_cast<size_t>(
                      std::find_if(was.items.begin(), was.items.end(),
                                   [&](const ReadItem& i) { return i.path == named; }) -
                      was.items.begin())]
            .clusters.size();
    ASSERT_EQ(RunCommand("head -c " + std::to_string((was.freeClusters - clusters / 2) * 512) +
                         " /dev/zero > " + dir.File("fill") + " && MTOOLS_SKIP_CHECK=1 mcopy -i " +
                         full + " " + dir.File("fill") + " ::/FILL")
                  .exitStatus,
              0);
    const std::vector<uint8_t> bytes = ReadFile(full);
    r = RunCommand(Cli("defrag " + full + " --only " + named + " /NO/SUCH.TXT"));
    EXPECT_EQ(r.exitStatus, 6) << r.output;
    EXPECT_NE(r.output.find("No free run holds"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Not found: /NO/SUCH.TXT"), std::string::npos) << r.output;
    EXPECT_TRUE(ReadFile(full) == bytes) << "a file that could not move changed the volume";
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
        EXPECT_TRUE(FsckAt(dir, bytes, offset)) << r.output;
        EXPECT_EQ(ShapeOf(bytes, offset).fragmented, 0u);
        Tree tree;
        ASSERT_TRUE(CopyOutTree(args.empty() ? img : img + "@@" + std::to_string(offset), tree));
        EXPECT_GT(tree.size(), 30u);
    }
}

}  // namespace
}  // namespace kestra::testing
