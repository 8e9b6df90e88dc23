#include "analysis/folder_walk.h"

#include <gtest/gtest.h>

#include "../fat/volume_fixture.h"
#include "fat/fat_table.h"
#include "format/dir_entry.h"
#include "support/test_env.h"

namespace kestra::analysis {
namespace {

TEST(DirEntryTest, StartClusterOfEitherWidthAndSettersKeepTheOtherBytes) {
    std::array<uint8_t, 32> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(0xA0 + i);
    const format::DirEntry e(bytes.data());
    EXPECT_EQ(e.StartCluster(false), 0xBBBAu);  // FAT12/16 keep other data in bytes 20-21
    EXPECT_EQ(e.StartCluster(true), 0xB5B4BBBAu);
    EXPECT_EQ(e.Size(), 0xBFBEBDBCu);

    // Each setter, and the bytes it alone may change.
    const std::vector<std::pair<std::function<void(format::DirEntryWriter&)>, std::vector<int>>>
        setters = {
            {[](auto& w) { w.SetStartCluster(0x0FEDCBA9, true); }, {20, 21, 26, 27}},
            {[](auto& w) { w.SetStartCluster(0x1234, false); }, {26, 27}},
            {[](auto& w) { w.SetSize(0x01020304); }, {28, 29, 30, 31}},
            {[](auto& w) { w.SetWriteTime(0x0506); }, {22, 23}},
        };
    for (const auto& [set, changes] : setters) {
        std::array<uint8_t, 32> copy = bytes;
        format::DirEntryWriter w(copy.data());
        set(w);
        for (int i = 0; i < 32; ++i) {
            const bool may = std::find(changes.begin(), changes.end(), i) != changes.end();
            EXPECT_EQ(copy[i] != bytes[i], may) << "byte " << i;
        }
    }
    std::array<uint8_t, 32> copy = bytes;
    format::DirEntryWriter(copy.data()).SetStartCluster(0x0FEDCBA9, true);
    EXPECT_EQ(format::DirEntry(copy.data()).StartCluster(true), 0x0FEDCBA9u);
}

// A folder as the walk hands it on: "~" erased, "+" long-name slot, "L" label,
// "$" the end; an entry by its long name, else its 8.3 name, and its number.
// `start` ends as the last entry's start cluster.
std::string Walk(fat::FatRun& run, uint32_t cluster, uint32_t chunk, uint32_t& start) {
    std::string out;
    const WalkEnd end = ForEachEntry(
        run, cluster,
        [&](const FolderSlot& s) {
            static const char* const kMarks[] = {"$", "~", "+", "L"};
            if (s.kind == Slot::Entry)
                start = format::DirEntry(s.bytes).StartCluster(run.geo.IsFat32);
            out += s.kind == Slot::Entry
                       ? (s.longName.empty() ? format::ShortNameText(s.bytes, {}) : s.longName) +
                             "@" + std::to_string(s.entryNo)
                       : kMarks[static_cast<int>(s.kind)];
            out += " ";
            return s.kind != Slot::End;
        },
        chunk);
    EXPECT_EQ(end, WalkEnd::Stopped);
    return out;
}

class FolderWalkTest : public ::testing::TestWithParam<const char*> {};

// One sector a cluster: DIR's long name straddles its first two sectors,
// which mcopy's interleaved data clusters leave apart.
TEST_P(FolderWalkTest, LongNamesAcrossSectorsAndErasedEntriesOfAMtoolsVolume) {
    testing::TempDir dir;
    const testing::CommandResult made = testing::RunCommand(
        "cd " + testing::ShellQuote(dir.path().string()) + " && mkfs.fat -C -n KESTRA -s 1 " +
        GetParam() +
        " >/dev/null && echo x > f && mmd -i v.img ::/DIR && for n in F00 F01 F02 "
        "F03 F04 F05 F06 F07 F08 F09 F10 F11 F12 'A long name that spans' 'Erased long name' LAST;"
        " do mcopy -i v.img f \"::/DIR/$n.txt\" || exit 1; done && "
        "mdel -i v.img '::/DIR/Erased long name.txt' ::/DIR/F03.TXT");
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    fat::VolumeFixture f(testing::ReadFile(dir.File("v.img")));
    ASSERT_TRUE(fat::ReadFat(f.run));

    uint32_t sub = 0;
    EXPECT_EQ(Walk(f.run, f.geo.IsFat32 ? f.geo.RootCluster : 0, 128, sub), "L DIR@1 $ ");
    const std::string want =
        ".@0 ..@1 F00.TXT@2 F01.TXT@3 F02.TXT@4 ~ F04.TXT@6 F05.TXT@7 F06.TXT@8 F07.TXT@9 "
        "F08.TXT@10 F09.TXT@11 F10.TXT@12 F11.TXT@13 F12.TXT@14 + + "
        "A long name that spans.txt@17 ~ ~ ~ LAST.TXT@21 $ ";
    uint32_t last = 0;
    EXPECT_EQ(Walk(f.run, sub, 128, last), want);
    EXPECT_EQ(Walk(f.run, sub, 1, last), want);
}

INSTANTIATE_TEST_SUITE_P(Fat, FolderWalkTest,
                         ::testing::Values("-F 16 v.img 8192", "-F 32 v.img 40000"));

}  // namespace
}  // namespace kestra::analysis
