#pragma once

// A fake device for what a real one cannot do on demand.

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/lock_table.h"
#include "platform/sector_device.h"

namespace kestra::platform {

// What a fake device does that a real one cannot do on demand.
struct FakeScript {
    static constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();

    uint64_t failReadCall = kNone;      // the n-th read (1-based) fails
    uint64_t failReadSector = kNone;    // every read that covers this sector fails
    uint64_t failWriteCall = kNone;     // the n-th write (1-based) fails
    uint64_t failWriteSector = kNone;   // every write that covers this sector fails
    uint64_t crashAfterWrites = kNone;  // writes after the N-th are refused; earlier ones stay

    // Another program on the same volume.
    int foreignLock = -1;  // lock level it holds: seen by LockState, blocks every lock of ours
    std::function<bool(int level)> allowLock;  // when set, says whether our lock may be had
    std::vector<int> lockFlagStates;           // returned in turn by LockFlagState ...
    int lockFlagAfter = 0;                     // ... and this value once they are used up
    std::vector<std::string> openFiles;        // files it holds open
    // At the n-th barrier (1-based) it writes the image behind our back, or opens it.
    uint64_t foreignAtBarrier = kNone;
    std::function<void(SectorDevice& inner)> foreignWrite;
    bool foreignOpens = false;
};

struct Transfer {
    bool write;
    uint64_t first;
    uint32_t count;
};

// Wraps a device (usually a MemoryDevice shared between openings) with failures,
// crashes and another program's locks, and records every transfer.
class FakeDevice : public SectorDevice {
  public:
    FakeDevice(std::shared_ptr<SectorDevice> inner, FakeScript script = {});

    bool Read(uint64_t first, uint32_t count, uint8_t* buffer) override;
    bool Write(uint64_t first, uint32_t count, const uint8_t* buffer) override;
    bool Flush() override;
    uint64_t SectorCount() const override { return inner_->SectorCount(); }

    int LockState() override;
    bool Lock(int level, bool allowWrites) override;
    bool Unlock(int level) override { return locks_.Pop(level); }
    int LockFlagState() override;
    bool OpenFile(uint32_t index, std::string& path) override;
    // The other program it plays keeps to the write locks.
    bool GuardsSharedWrites() const override { return true; }
    bool OthersOpened() override { return othersOpened_; }

    FakeScript& Script() { return script_; }
    const std::vector<Transfer>& Trace() const { return trace_; }
    // The trace's length at each barrier.
    const std::vector<size_t>& Barriers() const { return barriers_; }
    uint64_t Reads() const { return reads_; }
    uint64_t Writes() const { return writes_; }
    uint64_t LockRequests() const { return lockRequests_; }

  private:
    static bool Covers(uint64_t first, uint32_t count, uint64_t sector) {
        return sector >= first && sector - first < count;
    }

    std::shared_ptr<SectorDevice> inner_;
    FakeScript script_;
    LockTable locks_;
    std::vector<Transfer> trace_;
    std::vector<size_t> barriers_;
    uint64_t reads_ = 0;
    uint64_t writes_ = 0;
    uint64_t lockRequests_ = 0;
    size_t nextFlagState_ = 0;
    bool othersOpened_ = false;
};

}  // namespace kestra::platform
