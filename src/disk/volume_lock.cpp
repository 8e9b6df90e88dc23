#include "disk/volume_lock.h"

#include <cassert>

#include "report/status_lines.h"

namespace kestra::disk {
namespace {

constexpr double kLockTimeout = 60.0;  // seconds
constexpr double kSecondsPerDay = 86400.0;
constexpr double kMidnightSlack = -0.1;  // a smaller step back is clock jitter
constexpr int kEventRounds = 100;

report::RunFlags& Flags(LockContext& lock) {
    // The volume and the report model must share one set of run flags, or the
    // events held off here would still run in the status output.
    assert(&lock.io.Flags() == &lock.report.Flags);
    return lock.io.Flags();
}

void LetEventsRun(LockContext& lock, int rounds) {
    for (int i = 0; i < rounds; ++i)
        report::LetEventsRun(lock.report);
}

// The lock level could not be brought back to 1: the run must end. A library
// does not end its host, so it stops the run and the run driver ends it.
bool LockLevelStuck(report::RunFlags& flags) {
    flags.AbortRun = 1;
    flags.RunError = true;
    flags.InternalErrorFlag = true;
    return false;
}

}  // namespace

bool LockIt(LockContext& lock, Access access) {
    VolumeIo& io = lock.io;
    report::RunFlags& flags = Flags(lock);

    LetEventsRun(lock, kEventRounds);

    io.Level0Lock = false;
    io.VolumeHandle = io.OpenVolume(io.DriveLetter, access);
    if (!io.VolumeHandle) {
        // A volume that cannot be opened at all is no busy drive.
        if (io.OpenErrorKind != platform::OpenError::Busy) flags.DiskErrorFlag = true;
        return false;
    }

    // Held by someone else (or the query failed): the run driver reports it.
    if (io.GetLockState() >= 0) return false;

    if (io.LockVolume(0)) {
        io.LockLevel = 0;
        io.Level0Lock = true;
        return true;
    }

    bool result = false;
    const bool mayShare = access == Access::Read || io.VolumeHandle->GuardsSharedWrites();
    if (mayShare && io.LockVolume(256)) {
        io.LockLevel = io.GetLockState();
        if (LockLevel3(lock, false)) {
            // Reading the lock flag also clears it, so the first move starts clean.
            result = io.GetLockFlagState(io.DriveIndex + 1) != -1;
            UnLockLevel3(lock);
        }
        if (!result) io.UnlockVolume(256);
        io.LockLevel = io.GetLockState();
    }

    if (!result) {
        flags.DriveBusyFlag = true;
        VolumeIo::CloseVolumeHandle(io.VolumeHandle);
    }
    return result;
}

bool LockLevel3(LockContext& lock, bool Report) {
    VolumeIo& io = lock.io;
    report::RunFlags& flags = Flags(lock);

    // Bring the run window up to date before painting is held off.
    lock.report.Ui.RepaintNow();
    if (io.Level0Lock) return false;

    const double t0 = lock.clock.SecondsSinceMidnight();
    for (;;) {
        if (flags.RunError) return false;

        if (io.LockVolume(512)) {
            if (io.LockVolume(768)) {
                flags.DropLocksFlag = true;
                const int st = io.GetLockFlagState(io.DriveIndex + 1);
                if (st == 0) return true;
                if (Report) {
                    flags.VolumeTouched = true;
                    if (st == 2) {
                        io.OpenFileCount = io.EnumOpenFiles();
                    } else {
                        flags.RestartRun = true;
                        flags.RunError = true;
                    }
                    if (st > 0) return true;
                }
                io.UnlockVolume(768);
            }
            io.UnlockVolume(512);
            io.LockLevel = io.GetLockState();
            if (io.LockLevel != 1) io.DropToLevel1();
            flags.DropLocksFlag = io.LockLevel != 1;
            if (flags.DropLocksFlag) return LockLevelStuck(flags);
        }

        double elapsed = lock.clock.SecondsSinceMidnight() - t0;
        if (elapsed < kMidnightSlack) elapsed += kSecondsPerDay;
        if (elapsed > kLockTimeout) {
            flags.AbortRun = 1;
            flags.DriveBusyFlag = true;
            flags.RunError = true;
            return false;
        }

        LetEventsRun(lock, kEventRounds);
    }
}

void UnLockLevel3(LockContext& lock) {
    VolumeIo& io = lock.io;
    report::RunFlags& flags = Flags(lock);

    if (io.GetLockState() >= 2 || flags.DropLocksFlag) io.DropToLevel1();
    // While the write locks could not be dropped a paint would only be deferred
    // again, so what waited keeps waiting.
    if (flags.PaintDeferred && !flags.DropLocksFlag) {
        lock.flushDeferredPaint();
        flags.PaintDeferred = false;
    }

    LetEventsRun(lock, 1);
}

WriteLockHold::~WriteLockHold() noexcept(false) {
    if (!lock_) return;
    if (std::uncaught_exceptions() == unwinding_) {
        UnLockLevel3(*lock_);
        return;
    }
    try {
        UnLockLevel3(*lock_);
    } catch (...) {
        // The locks are dropped before events run; the first error is the one to report.
    }
}

}  // namespace kestra::disk
