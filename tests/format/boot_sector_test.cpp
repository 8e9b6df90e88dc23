#include "format/boot_sector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/sector_size.h"
#include "support/test_env.h"

namespace kestra::format {
namespace {

using testing::RunCommand;

struct Made {
    const char* options;  // mkfs.fat's
    uint32_t kilobytes;
    FatType type;
    uint32_t sectorsPerCluster, reserved, rootEntries;
};

// Volumes formatted by mkfs.fat, read back through the view; the state byte the
// view finds is the one fsck.fat calls the dirty bit.
TEST(BootSectorTest, ReadsWhatMkfsWroteOnEveryType) {
    const Made cases[] = {
        {"-F 12 -s 1 -R 3 -r 224", 1440, FatType::Fat12, 1, 3, 224},
        {"-F 16 -s 2 -R 4 -r 512", 16384, FatType::Fat16, 2, 4, 512},
        {"-F 32 -s 1 -R 32 -b 6", 40000, FatType::Fat32, 1, 32, 0},
    };
    for (const Made& m : cases) {
        SCOPED_TRACE(m.options);
        testing::TempFile file;
        const std::string make = "mkfs.fat -C -n KESTRA -i 1234ABCD " + std::string(m.options) +
                                 " " + testing::ShellQuote(file.path()) + " " +
                                 std::to_string(m.kilobytes);
        ASSERT_EQ(RunCommand(make).exitStatus, 0) << RunCommand(make).output;
        std::vector<uint8_t> v = testing::ReadFile(file.path());
        const BootRecord b = ParseBootRecord(v.data());
        EXPECT_EQ(CheckBootRecord(b, v.size() / kSectorSize), "");
        EXPECT_EQ(b.Type(), m.type);
        EXPECT_EQ(b.sectorsPerCluster, m.sectorsPerCluster);
        EXPECT_EQ(b.reservedSectors, m.reserved);
        EXPECT_EQ(b.numberOfFats, 2);
        EXPECT_EQ(b.rootEntryCount, m.rootEntries);
        EXPECT_EQ(b.totalSectors, m.kilobytes * 2);
        EXPECT_EQ(std::string(b.labelBytes.begin(), b.labelBytes.end()), "KESTRA     ");
        EXPECT_EQ(VolumeSerial(v.data()), 0x1234ABCDu);
        if (m.type == FatType::Fat32) {
            EXPECT_EQ(b.rootCluster, 2u);
            for (const uint32_t sector : {1u, 7u}) {
                const uint8_t* info = v.data() + sector * kSectorSize;
                EXPECT_TRUE(IsFsInfo(info));
                EXPECT_EQ(FsInfoFreeCount(info), b.ClusterCount() - 1);  // the root's cluster
            }
            EXPECT_EQ(b.fsInfoSector, 1);
            EXPECT_EQ(b.backupBootSector, 6);
        }
        size_t state = 0;
        ASSERT_TRUE(StateByteAt(v.data(), state));
        v[state] |= kStateInUse;
        testing::WriteFile(file.path(), v);
        EXPECT_NE(testing::FsckCheck(file.path()).output.find("Dirty bit"), std::string::npos);
    }
}

// The setters the engine uses change their own field and no other byte.
TEST(BootSectorTest, SettersKeepEveryOtherByte) {
    std::vector<uint8_t> sector(kSectorSize);
    for (size_t i = 0; i < sector.size(); ++i)
        sector[i] = static_cast<uint8_t>(i * 7 + 1);
    std::vector<uint8_t> changed = sector;
    SetRootClusterField(changed.data(), 0x0A0B0C0D);
    SetBackupBootSectorField(changed.data(), 0);
    SetFsInfoCounts(changed.data(), 0x11223344, 0x55667788);
    EXPECT_EQ(RootClusterField(changed.data()), 0x0A0B0C0Du);
    EXPECT_EQ(BackupBootSectorField(changed.data()), 0);
    EXPECT_EQ(FsInfoFreeCount(changed.data()), 0x11223344u);
    EXPECT_EQ(FsInfoNextFree(changed.data()), 0x55667788u);
    size_t differing = 0;
    for (size_t i = 0; i < sector.size(); ++i)
        differing += sector[i] != changed[i];
    EXPECT_EQ(differing, 4u + 2u + 8u);
}

}  // namespace
}  // namespace kestra::format
