#include "fat/volume_model.h"

#include <gtest/gtest.h>

namespace kestra::fat {
namespace {

TEST(VolumeModelTest, EntryNamesDropBlanksAndAnEmptyExtension) {
    const uint8_t readme[32] = {'R', 'E', 'A', 'D', 'M', 'E', ' ', ' ', ' ', ' ', ' '};
    EXPECT_EQ(EntryName(readme), "README");
    const uint8_t text[32] = {'R', 'E', 'A', 'D', 'M', 'E', ' ', ' ', 'T', 'X', 'T'};
    EXPECT_EQ(EntryName(text), "README.TXT");
    const uint8_t shortExt[32] = {'A', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 'C', ' ', ' '};
    EXPECT_EQ(EntryName(shortExt), "A.C");
}

TEST(VolumeModelTest, FolderPathsWalkUpToTheDriveLetter) {
    VolumeModel m;
    m.FolderTree.assign(1, {-1, "C:", {}});
    EXPECT_EQ(FolderPath(m, 0), "C:");
    for (int i = 0; i < 150; ++i)
        FolderAdd(m, i, "D" + std::to_string(i));  // grows past 100
    EXPECT_EQ(m.FolderTreeCount, 150);
    EXPECT_EQ(FolderPath(m, 3), "C:\\D0\\D1\\D2");
    EXPECT_EQ(m.FolderTree[150].Name, "D149");
}

TEST(VolumeModelTest, FileTablesGrowTogetherAndTrimToTheCount) {
    VolumeModel m;
    GrowFileTab(m, 0);
    EXPECT_EQ(m.FileTab.size(), 200u);
    GrowFileTab(m, 199);
    EXPECT_EQ(m.FileTab.size(), 200u);
    GrowFileTab(m, 200);
    EXPECT_EQ(m.FileTab.size(), 400u);
    EXPECT_EQ(m.FileFixed.size(), 400u);
    RunCounters c;
    c.FileCount = 250;
    TrimScanTables(m, c);
    EXPECT_EQ(m.FileTab.size(), 251u);
    EXPECT_EQ(m.FileFolderIdx.size(), 400u);
}

}  // namespace
}  // namespace kestra::fat
