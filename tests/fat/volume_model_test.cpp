#include "fat/volume_model.h"

#include <gtest/gtest.h>

namespace kestra::fat {
namespace {

TEST(VolumeModelTest, EntryNamesDropBlanksAndAnEmptyExtension) {
    for (auto [raw, name] : {std::pair{"README     ", "README"},
                             {"README  TXT", "README.TXT"},
                             {"A       C  ", "A.C"}})
        EXPECT_EQ(EntryName(reinterpret_cast<const uint8_t*>(raw), format::CodePage()), name);
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

// The record tables grow in steps once a record reaches their end; a trim
// leaves the scan's count plus record 0 and keeps the parallel arrays.
TEST(VolumeModelTest, FileTablesGrowTogetherAndTrimToTheCount) {
    VolumeModel m;
    for (auto [record, size] : {std::pair{0u, 200u}, {199u, 200u}, {200u, 400u}}) {
        GrowFileTab(m, record);
        EXPECT_EQ(m.FileTab.size(), size) << record;
    }
    EXPECT_EQ(m.FileFixed.size(), 400u);
    RunCounters c;
    c.FileCount = 250;
    TrimScanTables(m, c);
    EXPECT_EQ(m.FileTab.size(), 251u);
    EXPECT_EQ(m.FileFolderIdx.size(), 400u);
}

}  // namespace
}  // namespace kestra::fat
