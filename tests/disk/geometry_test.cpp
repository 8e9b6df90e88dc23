#include "disk/geometry.h"

#include <gtest/gtest.h>

#include "support/image.h"

namespace kestra::disk {
namespace {

using testing::ImageOptions;

Geometry GeometryOf(const testing::FatImage& image) {
    Geometry geo;
    ComputeGeometry(geo, image.bytes().data());
    return geo;
}

// The builder lays volumes out on its own, so the two must agree: cluster 2
// follows the reserved sectors, the FATs and the fixed root, wherever the
// reserved-sector field puts the first FAT and however full the root's last
// sector is.
TEST(GeometryTest, RegionsMatchTheBuildersLayoutOnEveryType) {
    ImageOptions fat16 = ImageOptions::Fat16();
    fat16.reservedSectors = 4;
    fat16.rootEntries = 200;  // 12.5 sectors
    for (const ImageOptions& options :
         {ImageOptions::Floppy1440(), fat16, ImageOptions::Fat32(1)}) {
        const testing::FatImage image = testing::ImageBuilder(options).Build();
        const testing::Layout& l = image.layout();
        SCOPED_TRACE(FatTypeName(l.type));
        const Geometry geo = GeometryOf(image);
        EXPECT_EQ(geo.IsFat32, l.type == testing::FatType::kFat32);
        EXPECT_EQ(geo.ClusterCount, l.clusterCount);
        EXPECT_EQ(geo.FatStartSector, l.reservedSectors);
        EXPECT_EQ(geo.FatSectors, l.fatSectors);
        EXPECT_EQ(RootDirSectors(geo), l.rootDirSectors);
        EXPECT_EQ(RootDirSector(geo) + RootDirSectors(geo), l.firstDataSector);
        EXPECT_EQ(geo.RootCluster, geo.IsFat32 ? l.rootCluster : 0);
        for (const uint32_t cluster : {2u, l.MaxCluster()})
            EXPECT_EQ(ClusterToSector(geo, cluster),
                      static_cast<int64_t>(l.ClusterSector(cluster)));
        EXPECT_EQ(geo.DataSectors, int64_t{l.clusterCount} * l.sectorsPerCluster);
        EXPECT_EQ(geo.BigFileClusters * geo.SectorsPerCluster, 1024u);  // 512 KB
    }
}

TEST(GeometryTest, LinesUseIntegerKilobytes) {
    const testing::FatImage floppy = testing::ImageBuilder(ImageOptions::Floppy1440()).Build();
    Geometry geo = GeometryOf(floppy);
    geo.DriveText = "c: [DATA]";
    // Three one-sector clusters per box are one kilobyte, not three times nothing.
    EXPECT_EQ(GeometryLines(geo, 3),
              (std::vector<std::string>{"Drive=c: [DATA]  FAT", "AllocUnit=0Kb  Size=1.39Mb",
                                        "Map Scale=1 Kb/Box"}));
}

// 20479 is 9.9995 and rounds up within its row; 205824 is 100.5 and rounds up;
// 2097152 is 1024 MB over 1000.
TEST(FormatSectorsTest, EveryRowOfTheTable) {
    const std::pair<uint32_t, const char*> rows[] = {
        {0, ".0Kb"},         {1, ".5Kb"},         {2, "1Kb"},          {3, "1.5Kb"},
        {2047, "1023.5Kb"},  {2048, "1.00Mb"},    {3072, "1.50Mb"},    {20479, "10.00Mb"},
        {20480, "10.0Mb"},   {21504, "10.5Mb"},   {204800, "100Mb"},   {205824, "101Mb"},
        {2097151, "1024Mb"}, {2097152, "1.02Gb"}, {4194304, "2.05Gb"}, {4294967295u, "2097.15Gb"},
    };
    for (const auto& [sectors, text] : rows)
        EXPECT_EQ(FormatSectors(sectors), text) << sectors;
}

}  // namespace
}  // namespace kestra::disk
