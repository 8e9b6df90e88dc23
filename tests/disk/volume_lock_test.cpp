#include "disk/volume_lock.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/fake_device.h"
#include "platform/memory_device.h"

namespace kestra::disk {
namespace {

using platform::FakeDevice;
using platform::FakeScript;

// Another program's driver that can stop giving up level 3, or, like a real
// file, not keep to the write locks at all.
class StickyDevice : public FakeDevice {
  public:
    using FakeDevice::FakeDevice;
    bool Unlock(int level) override { return !(stuck && level == 3) && FakeDevice::Unlock(level); }
    bool GuardsSharedWrites() const override { return guards; }
    bool stuck = false;
    bool guards = true;
};

// Drive C: on a fake device, a clock that steps one second per reading, and a
// watch on every event round: none may run while the write locks are held.
struct Fixture {
    explicit Fixture(FakeScript s = {}) : script(std::move(s)) {
        catalogue.MapDevice('C', [this](const platform::OpenOptions& options) {
            platform::OpenResult r;
            auto device = std::make_unique<StickyDevice>(memory, script);
            device->guards = guards;
            openedWritable = options.writable;
            fake = device.get();
            r.device = std::move(device);
            return r;
        });
        io.DriveLetter = "C";
        ui.onEvents = [this] {
            if (flags.DropLocksFlag) ++eventsWhileLocked;
            topLevelAtEvents = std::max(topLevelAtEvents, io.GetLockState());
            if (ui.eventRounds > 100000) flags.RunError = true;  // a wait that never ends
        };
    }
    ~Fixture() { EXPECT_EQ(eventsWhileLocked, 0); }

    // Level 0 refused, level 1 and the write locks allowed.
    static FakeScript Shared() {
        FakeScript s;
        s.allowLock = [](int level) { return level != 0; };
        return s;
    }

    FakeScript script;
    std::shared_ptr<platform::MemoryDevice> memory =
        std::make_shared<platform::MemoryDevice>(std::vector<uint8_t>(16 * 512));
    StickyDevice* fake = nullptr;
    bool guards = true;
    bool openedWritable = false;
    platform::VolumeCatalogue catalogue;
    platform::QuietUiHost ui;
    report::RunFlags flags;
    VolumeIo io{catalogue, ui, flags};
    report::ReportContext report{flags, ui};
    platform::ManualClock clock{1000, 1};
    int paints = 0;
    LockContext lock{io, report, clock, [this] { ++paints; }};
    int eventsWhileLocked = 0;
    int topLevelAtEvents = -1;
};

TEST(VolumeLockTest, LevelZeroIsHeldForTheRunWithoutPerWriteLocking) {
    Fixture f;
    ASSERT_TRUE(LockIt(f.lock));
    EXPECT_TRUE(f.io.Level0Lock);
    EXPECT_EQ(f.io.LockLevel, 0);
    EXPECT_EQ(f.ui.eventRounds, 100);
    const uint64_t requests = f.fake->LockRequests();
    EXPECT_FALSE(LockLevel3(f.lock, true));
    EXPECT_EQ(f.fake->LockRequests(), requests);
    EXPECT_FALSE(f.flags.DriveBusyFlag);
}

TEST(VolumeLockTest, VolumeHeldElsewhereOrMissingIsRefusedWithoutBusyFlagOrClose) {
    for (const int foreign : {0, 1, 3}) {
        FakeScript s;
        s.foreignLock = foreign;
        Fixture f(s);
        EXPECT_FALSE(LockIt(f.lock));
        EXPECT_TRUE(f.io.VolumeHandle);  // the run's release closes it
        EXPECT_EQ(f.fake->LockRequests(), 0u);
        EXPECT_FALSE(f.flags.DriveBusyFlag);
    }
    Fixture f;
    f.io.DriveLetter = "D";
    EXPECT_FALSE(LockIt(f.lock));
    EXPECT_FALSE(f.flags.DriveBusyFlag);
    EXPECT_TRUE(f.flags.DiskErrorFlag);  // a volume that cannot be opened is no busy drive
}

// Nothing enforces the write locks of a shared file on Linux, so a writing run
// shares a volume only with a device that does; a reading run always may.
TEST(VolumeLockTest, AWritingRunSharesTheVolumeOnlyWhereTheWriteLocksAreGuarded) {
    struct Case {
        Access access;
        bool guards, shared;
    };
    for (const Case c : {Case{Access::ReadWrite, true, true}, Case{Access::ReadWrite, false, false},
                         Case{Access::Read, false, true}}) {
        SCOPED_TRACE(testing::Message() << c.guards << c.shared);
        std::vector<int> asked;
        FakeScript s = Fixture::Shared();
        s.allowLock = [&asked](int level) {
            asked.push_back(level);
            return level != 0;
        };
        Fixture f(s);
        f.guards = c.guards;
        EXPECT_EQ(LockIt(f.lock, c.access), c.shared);
        EXPECT_EQ(f.openedWritable, c.access == Access::ReadWrite);
        EXPECT_EQ(asked, (c.shared ? std::vector<int>{0, 1, 2, 3} : std::vector<int>{0}));
        EXPECT_EQ(f.flags.DriveBusyFlag, !c.shared);
        EXPECT_EQ(f.io.VolumeHandle != nullptr, c.shared);
    }
}

TEST(VolumeLockTest, SharedRunTestsTheWriteLockAndUnlockRepaintsOnlyWhatWasDeferred) {
    FakeScript s = Fixture::Shared();
    s.lockFlagStates = {0, 7};  // a write between the test lock and its release
    Fixture f(s);
    ASSERT_TRUE(LockIt(f.lock));
    EXPECT_FALSE(f.io.Level0Lock);
    EXPECT_EQ(f.io.LockLevel, 1);
    EXPECT_FALSE(f.flags.DropLocksFlag);
    EXPECT_EQ(f.fake->LockRequests(), 4u);  // 0 refused, 1, 2, 3

    ASSERT_TRUE(LockLevel3(f.lock, true));  // the 7 was read and cleared by LockIt
    EXPECT_EQ(f.io.GetLockState(), 3);
    EXPECT_FALSE(f.flags.VolumeTouched);
    f.flags.PaintDeferred = true;
    UnLockLevel3(f.lock);
    EXPECT_EQ(f.io.GetLockState(), 1);
    EXPECT_FALSE(f.flags.DropLocksFlag);
    EXPECT_FALSE(f.flags.PaintDeferred);
    EXPECT_EQ(f.paints, 1);

    // A hold drops them on every way out of its scope, an error's too.
    ASSERT_TRUE(LockLevel3(f.lock, true));
    const long rounds = f.ui.eventRounds;
    EXPECT_THROW(
        {
            const WriteLockHold hold(f.lock, true);
            throw std::bad_alloc();
        },
        std::bad_alloc);
    EXPECT_EQ(f.io.GetLockState(), 1);
    EXPECT_EQ(f.paints, 1);
    EXPECT_EQ(f.ui.eventRounds - rounds, 1);
}

TEST(VolumeLockTest, FailedWriteLockTestMakesTheDriveBusyAndClosesTheHandle) {
    FakeScript neverLevel2 = Fixture::Shared();  // times out
    neverLevel2.allowLock = [](int level) { return level == 1; };
    FakeScript flagFails = Fixture::Shared();
    flagFails.lockFlagStates = {0, -1};
    for (const auto& [script, abort] : {std::pair{neverLevel2, 1}, {flagFails, 0}}) {
        SCOPED_TRACE(abort);
        Fixture f(script);
        EXPECT_FALSE(LockIt(f.lock));
        EXPECT_TRUE(f.flags.DriveBusyFlag);
        EXPECT_EQ(f.flags.AbortRun, abort);
        EXPECT_FALSE(f.io.VolumeHandle);
        EXPECT_EQ(f.io.LockLevel, -1);  // level 1 given back before closing
    }
}

TEST(VolumeLockTest, ReportTrueAcceptsATouchedVolumePerLockFlagState) {
    struct Case {
        int state;
        bool result, restart;
        int level;
    };
    for (const Case c :
         {Case{5, true, true, 3}, Case{2, true, false, 3}, Case{-1, false, true, 1}}) {
        SCOPED_TRACE(c.state);
        Fixture f(Fixture::Shared());
        ASSERT_TRUE(LockIt(f.lock));
        f.fake->Script().lockFlagAfter = c.state;
        f.fake->Script().openFiles = {"C:\\WIN\\SWAP.SWP", "C:\\LOG.TXT"};
        const uint64_t requests = f.fake->LockRequests();

        EXPECT_EQ(LockLevel3(f.lock, true), c.result);
        EXPECT_EQ(f.fake->LockRequests(), requests + 2);  // at once, no retry
        EXPECT_EQ(f.io.GetLockState(), c.level);
        EXPECT_EQ(f.flags.DropLocksFlag, c.level == 3);
        EXPECT_TRUE(f.flags.VolumeTouched);
        EXPECT_EQ(f.flags.RestartRun, c.restart);
        EXPECT_EQ(f.flags.RunError, c.restart);
        EXPECT_EQ(f.io.OpenFileCount, c.state == 2 ? 2 : 0);
    }
}

// A volume that keeps being written: each attempt gives back levels 3 and 2,
// and the wait ends after 61 one-second readings, wherever midnight falls.
TEST(VolumeLockTest, ReportFalseRetriesUntilSixtyClockSecondsAcrossMidnight) {
    for (const double start : {1000.0, 86390.0, 86399.5}) {
        SCOPED_TRACE(start);
        Fixture f(Fixture::Shared());
        ASSERT_TRUE(LockIt(f.lock));
        f.fake->Script().lockFlagAfter = 1;
        f.clock.Set(start);
        const uint64_t requests = f.fake->LockRequests();
        const long rounds = f.ui.eventRounds;

        EXPECT_FALSE(LockLevel3(f.lock, false));
        EXPECT_EQ(f.fake->LockRequests() - requests, 61u * 2);
        EXPECT_EQ(f.ui.eventRounds - rounds, 60 * 100);
        EXPECT_EQ(f.topLevelAtEvents, 1);
        EXPECT_EQ(f.io.GetLockState(), 1);
        EXPECT_FALSE(f.flags.DropLocksFlag);
        EXPECT_EQ(f.flags.AbortRun, 1);
        EXPECT_TRUE(f.flags.DriveBusyFlag);
        EXPECT_TRUE(f.flags.RunError);
        EXPECT_FALSE(f.flags.VolumeTouched);
    }
}

TEST(VolumeLockTest, LevelThatCannotReturnToOneStopsTheRunAsInternalError) {
    Fixture f(Fixture::Shared());
    ASSERT_TRUE(LockIt(f.lock));
    f.fake->Script().lockFlagAfter = 1;
    f.fake->stuck = true;
    EXPECT_FALSE(LockLevel3(f.lock, false));
    EXPECT_EQ(f.flags.AbortRun, 1);
    EXPECT_TRUE(f.flags.RunError);
    EXPECT_TRUE(f.flags.InternalErrorFlag);
    EXPECT_TRUE(f.flags.DropLocksFlag);  // the release at the end of the run tries again

    // Nothing is painted while the locks are still up.
    f.flags.PaintDeferred = true;
    UnLockLevel3(f.lock);
    EXPECT_EQ(f.paints, 0);
    EXPECT_TRUE(f.flags.PaintDeferred);
}

}  // namespace
}  // namespace kestra::disk
