#include "disk/volume_io.h"

#include <gtest/gtest.h>

#include "platform/fake_device.h"
#include "platform/memory_device.h"

namespace kestra::disk {
namespace {

using platform::FakeDevice;
using platform::FakeScript;
using platform::MemoryDevice;

// A volume of 64 sectors whose sector n is filled with the byte n.
struct Fixture {
    Fixture() {
        std::vector<uint8_t> bytes(64 * 512);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(i / 512);
        memory = std::make_shared<MemoryDevice>(std::move(bytes));
        catalogue.MapDevice('C', [this](const platform::OpenOptions&) {
            platform::OpenResult r;
            auto device = std::make_unique<FakeDevice>(memory, script);
            fake = device.get();
            r.device = std::move(device);
            return r;
        });
        io.VolumeHandle = io.OpenVolume("c:", Access::ReadWrite);
    }

    std::shared_ptr<MemoryDevice> memory;
    FakeScript script;
    FakeDevice* fake = nullptr;
    platform::VolumeCatalogue catalogue;
    platform::QuietUiHost ui;
    report::RunFlags flags;
    VolumeIo io{catalogue, ui, flags};
};

TEST(VolumeIoTest, CursorMovesByWholeSectorsAndStillAdvancesAfterFailures) {
    Fixture f;
    ASSERT_TRUE(f.io.VolumeHandle);
    std::vector<uint8_t> buf(4 * 512, 0xAA);

    f.io.SetNextSector(5);
    uint64_t moved = 0;
    ASSERT_TRUE(f.io.ReadSectors(buf.data(), 1000, &moved));  // 1 whole sector
    EXPECT_EQ(moved, 1000u);
    EXPECT_EQ(buf[0], 5);
    EXPECT_EQ(buf[512], 0xAA);
    EXPECT_EQ(f.io.NextSector, 5);  // ReadSectors leaves the cursor

    ASSERT_TRUE(f.io.ReadSectorsNext(buf.data(), 2 * 512));
    EXPECT_EQ(f.io.NextSector, 7);

    f.fake->Script().failReadSector = 8;
    EXPECT_FALSE(f.io.ReadSectorsNext(buf.data(), 3 * 512, &moved));
    EXPECT_EQ(moved, 3u * 512);  // reported as asked, even on failure
    EXPECT_EQ(f.io.NextSector, 10);
    EXPECT_EQ(f.flags.AbortRun, 1);
    EXPECT_TRUE(f.flags.RunError);
    EXPECT_TRUE(f.flags.DiskErrorFlag);
    EXPECT_EQ(f.flags.ErrText, "Error reading drive");

    f.fake->Script().failWriteCall = 1;
    EXPECT_FALSE(f.io.WriteSectorsNext(buf.data(), 2 * 512));
    EXPECT_EQ(f.io.NextSector, 12);
    EXPECT_EQ(f.flags.ErrText, "Error writing drive");
    EXPECT_EQ(f.memory->Bytes()[10 * 512], 10);  // nothing written
}

TEST(VolumeIoTest, TransfersOutsideTheVolumeFailAndWriteNothing) {
    Fixture f;
    std::vector<uint8_t> buf(4 * 512, 0x55);
    const auto before = f.memory->Bytes();
    f.io.SetNextSector(62);
    EXPECT_FALSE(f.io.WriteSectorsNext(buf.data(), 4 * 512));
    EXPECT_EQ(f.memory->Bytes(), before);
    EXPECT_TRUE(f.flags.DiskErrorFlag);
    f.io.SetNextSector(-1);
    EXPECT_FALSE(f.io.ReadSectors(buf.data(), 512));
}

TEST(VolumeIoTest, BootSectorReadIsInvertedAndLeavesCursorAtOne) {
    Fixture f;
    uint8_t sector[512];
    f.io.SetNextSector(40);
    EXPECT_EQ(f.io.ReadBootSector(sector), 0);
    EXPECT_EQ(f.io.NextSector, 1);

    f.fake->Script().failReadSector = 0;
    f.io.SetNextSector(40);
    uint64_t moved = 99;
    EXPECT_EQ(f.io.ReadBootSector(sector, &moved), 1);
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(f.io.NextSector, 1);
    EXPECT_FALSE(f.flags.DiskErrorFlag);  // nothing is flagged here
}

TEST(VolumeIoTest, LockLevelsStackUnlockOneHoldAtATimeAndReleaseFromAnyLevel) {
    Fixture f;
    ASSERT_TRUE(f.io.LockVolume(256));
    ASSERT_TRUE(f.io.LockVolume(512));
    ASSERT_TRUE(f.io.LockVolume(768));
    ASSERT_TRUE(f.io.LockVolume(768));  // nested

    // Not the level held: nothing is sent.
    const uint64_t requestsBefore = f.fake->LockRequests();
    f.io.UnlockVolume(256);
    EXPECT_EQ(f.io.GetLockState(), 3);
    EXPECT_EQ(f.fake->LockRequests(), requestsBefore);

    f.io.UnlockVolume(768);  // both nested holds of level 3 go
    EXPECT_EQ(f.io.GetLockState(), 2);

    f.flags.DropLocksFlag = true;
    f.io.DropToLevel1();
    EXPECT_EQ(f.io.GetLockState(), 1);
    EXPECT_FALSE(f.flags.DropLocksFlag);

    f.io.ReleaseVolume();
    EXPECT_FALSE(f.io.VolumeHandle);
    EXPECT_EQ(f.io.LockLevel, -1);
    // With no handle the state request fails, which reads as level 0.
    EXPECT_EQ(f.io.GetLockState(), 0);
    EXPECT_EQ(f.io.GetLockFlagState(3), -1);
    f.io.UnlockVolume(0);  // must not touch the missing handle

    // Release undoes an exclusive run's level 0 as well.
    f.io.VolumeHandle = f.io.OpenVolume("c:", Access::ReadWrite);
    ASSERT_TRUE(f.io.LockVolume(0));
    f.io.Level0Lock = true;
    f.io.LockLevel = 0;
    f.io.ReleaseVolume();
    EXPECT_EQ(f.io.LockLevel, -1);
    EXPECT_FALSE(f.io.VolumeHandle);
}

TEST(VolumeIoTest, DropToLevel1GivesUpWhileAnotherProgramHoldsLevelZero) {
    Fixture f;
    f.fake->Script().foreignLock = 0;
    f.io.DropToLevel1();
    EXPECT_EQ(f.io.LockLevel, 0);
    EXPECT_EQ(f.ui.eventRounds, 1001);  // events run while it waits
}

TEST(VolumeIoTest, OpenFilesAreListedHashedAndMatchedByFullPath) {
    Fixture f;
    EXPECT_EQ(f.io.EnumOpenFiles(), 0);
    EXPECT_FALSE(f.io.IsOpenFile("C:\\A.TXT", "A.TXT"));

    std::vector<std::string> names;
    for (int i = 0; i < 14; ++i)
        names.push_back("C:\\DIR\\F" + std::to_string(i) + ".DAT");
    names.push_back("C:\\A VERY LONG FILE NAME THAT WOULD OVERFLOW.TXT");
    f.fake->Script().openFiles = names;
    f.io.OpenFileCount = f.io.EnumOpenFiles();
    EXPECT_EQ(f.io.OpenFileCount, 15);
    EXPECT_EQ(f.io.OpenFileHash[3], VolumeIo::NameHash("F3.DAT"));
    EXPECT_TRUE(f.io.IsOpenFile("C:\\DIR\\F13.DAT", "F13.DAT"));
    EXPECT_FALSE(f.io.IsOpenFile("C:\\dir\\F13.DAT", "F13.DAT"));  // exact comparison
    EXPECT_TRUE(f.io.IsOpenFile(names.back(), "A VERY LONG FILE NAME THAT WOULD OVERFLOW.TXT"));
}

TEST(VolumeIoTest, HeldWritesLandByStepJoinedAndBehindABarrierEach) {
    Fixture f;
    std::vector<uint8_t> a(2 * 512, 0xA1), b(512, 0xB2), c(512, 0xC3);
    auto write = [&](int step, int64_t at, const std::vector<uint8_t>& data) {
        f.io.HoldWrites(step);
        f.io.SetNextSector(at);
        return f.io.WriteSectorsNext(data.data(), data.size());
    };
    ASSERT_TRUE(write(2, 20, a));  // sectors 20, 21
    ASSERT_TRUE(write(2, 22, b));  // joins them
    ASSERT_TRUE(write(1, 40, c));
    ASSERT_TRUE(write(3, 21, c));  // a later step's copy of a sector is what reads see
    f.io.HoldWrites(0);
    EXPECT_EQ(f.fake->Writes(), 0u);
    std::vector<uint8_t> got(4 * 512);
    f.io.SetNextSector(20);
    ASSERT_TRUE(f.io.ReadSectors(got.data(), got.size()));
    EXPECT_EQ(std::vector<uint8_t>({got[0], got[512], got[1024], got[1536]}),
              std::vector<uint8_t>({0xA1, 0xC3, 0xB2, 23}));

    // Around held writes a direct write would overtake them: refused.
    f.io.SetNextSector(50);
    EXPECT_FALSE(f.io.WriteSectorsNext(c.data(), c.size()));
    EXPECT_TRUE(f.flags.InternalErrorFlag);
    EXPECT_EQ(f.fake->Writes(), 0u);

    ASSERT_TRUE(f.io.FlushHeld());
    std::vector<std::pair<uint64_t, uint32_t>> writes;
    for (const platform::Transfer& t : f.fake->Trace())
        if (t.write) writes.emplace_back(t.first, t.count);
    EXPECT_EQ(writes, (std::vector<std::pair<uint64_t, uint32_t>>{{40, 1}, {20, 3}, {21, 1}}));
    EXPECT_EQ(f.fake->Barriers(), (std::vector<size_t>{2, 3, 4}));  // the read, then a write each
    EXPECT_EQ(f.memory->Bytes()[21 * 512], 0xC3);
    EXPECT_EQ(f.io.BytesWritten, 5u * 512);
    EXPECT_EQ(f.io.Barriers, 3u);
    // Nothing written since the last barrier: nothing asked of the device.
    EXPECT_TRUE(f.io.Barrier());
    EXPECT_EQ(f.fake->Barriers().size(), 3u);
}

}  // namespace
}  // namespace kestra::disk
