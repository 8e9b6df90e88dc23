#pragma once

// The locking protocol of a run's writes.

#include <exception>
#include <functional>

#include "disk/volume_io.h"
#include "platform/clock.h"
#include "report/report_context.h"

namespace kestra::disk {

// What the locking protocol of a run needs: the volume, the report model whose
// events and paints it holds off, the clock of its time-out, and the repaint of
// everything that waited while the write locks were held.
struct LockContext {
    VolumeIo& io;
    report::ReportContext& report;
    platform::Clock& clock;
    std::function<void()> flushDeferredPaint = [] {};
};

// Opens the volume and locks it for a run: level 0, or level 1 for a shared run.
// A run that writes shares the volume only on a device that guards the write
// locks against other programs; elsewhere it needs level 0 or the drive is busy.
// True when held.
bool LockIt(LockContext& lock, Access access = Access::ReadWrite);
// On a level-1 run, takes the level-2 and level-3 write locks. True when held;
// False at once on a level-0 run, or when the run has stopped.
bool LockLevel3(LockContext& lock, bool Report);
// Drops back to level 1 and paints what waited meanwhile.
void UnLockLevel3(LockContext& lock);

// The write locks LockLevel3 took, dropped by UnLockLevel3 when the hold ends:
// on every path out of its scope, an exception's too. Made with `held` false it
// drops nothing. On a run that holds the volume alone the drop only paints what
// waited and lets events run.
class WriteLockHold {
  public:
    WriteLockHold(LockContext& lock, bool held) : lock_(held ? &lock : nullptr) {}
    WriteLockHold(const WriteLockHold&) = delete;
    WriteLockHold& operator=(const WriteLockHold&) = delete;
    // An error of the events the drop lets run goes on to the caller, as from
    // any other step; while another error unwinds it is dropped instead.
    ~WriteLockHold() noexcept(false);

  private:
    LockContext* lock_;
    int unwinding_ = std::uncaught_exceptions();
};

}  // namespace kestra::disk
