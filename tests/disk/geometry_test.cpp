#include "disk/geometry.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kestra::disk {
namespace {

struct Bpb {
    uint8_t spc = 4;
    uint16_t reserved = 1;
    uint16_t rootEntries = 512;
    uint16_t fat16 = 200;
    uint32_t fat32 = 0;
    uint32_t total = 100000;
};

std::array<uint8_t, 512> BootSector(const Bpb& b) {
    std::array<uint8_t, 512> s{};
    auto put16 = [&](size_t at, uint16_t v) { s[at] = v & 0xFF, s[at + 1] = v >> 8; };
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put16(11, 512);
    s[13] = b.spc;
    put16(14, b.reserved);
    s[16] = 2;
    put16(17, b.rootEntries);
    put16(22, b.fat16);
    put32(32, b.total);
    put32(36, b.fat32);
    put32(44, 2);
    return s;
}

// Cluster 2 follows the reserved sectors, both FATs and the root folder.
TEST(GeometryTest, Fat16ClusterTwoFollowsReservedSectorsFatsAndTheRootFolder) {
    for (const uint16_t reserved : {1, 4}) {
        SCOPED_TRACE(reserved);
        Bpb b;
        b.reserved = reserved;
        Geometry geo;
        ComputeGeometry(geo, BootSector(b).data(), "FAT", 20000);
        EXPECT_EQ(geo.Type, platform::FatType::Fat16);
        EXPECT_EQ(geo.FatStartSector, reserved);
        EXPECT_EQ(RootDirSectors(geo), 32u);
        EXPECT_EQ(RootDirSector(geo), 400 + reserved);
        EXPECT_EQ(ClusterToSector(geo, 2), 432 + reserved);
        EXPECT_EQ(ClusterToSector(geo, 3), 436 + reserved);
        EXPECT_EQ(geo.DataSectors, 80000);
    }
}

TEST(GeometryTest, Fat32ClusterTwoFollowsTheFatsAndReservedSectors) {
    Bpb b;
    b.reserved = 32;
    b.rootEntries = 0;
    b.fat16 = 0;
    b.fat32 = 1000;
    b.spc = 64;
    Geometry geo;
    ComputeGeometry(geo, BootSector(b).data(), "FAT32", 70000);
    EXPECT_TRUE(geo.IsFat32);
    EXPECT_EQ(ClusterToSector(geo, 2), 2032);
    EXPECT_EQ(geo.FatStartSector, 32);
    EXPECT_EQ(geo.BigFileClusters, 16u);
    EXPECT_EQ(geo.RootCluster, 2u);
    EXPECT_EQ(GeometryLines(geo, 3)[1].substr(0, 14), "AllocUnit=32Kb");
}

TEST(GeometryTest, FatTypeFollowsThePublishedThreshold) {
    Geometry geo;
    ComputeGeometry(geo, BootSector({}).data(), "FAT", 4084);
    EXPECT_EQ(geo.Type, platform::FatType::Fat12);
    ComputeGeometry(geo, BootSector({}).data(), "FAT", 4085);
    EXPECT_EQ(geo.Type, platform::FatType::Fat16);
    // The reported name decides FAT32, whatever the count.
    ComputeGeometry(geo, BootSector({}).data(), "FAT32", 100);
    EXPECT_EQ(geo.Type, platform::FatType::Fat32);
}

TEST(GeometryTest, GeometryLinesUseIntegerKilobytes) {
    Bpb b;
    b.spc = 1;
    Geometry geo;
    ComputeGeometry(geo, BootSector(b).data(), "FAT", 2869);
    geo.DriveText = "c: [DATA]";
    const auto lines = GeometryLines(geo, 1);
    EXPECT_EQ(lines[0], "Drive=c: [DATA]  FAT");
    EXPECT_EQ(lines[1], "AllocUnit=0Kb  Size=1.40Mb");
    EXPECT_EQ(lines[2], "Map Scale=0 Kb/Box");
    b.spc = 8;
    ComputeGeometry(geo, BootSector(b).data(), "FAT", 2870);
    EXPECT_EQ(GeometryLines(geo, 2)[2], "Map Scale=8 Kb/Box");
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
