#pragma once

// The one seam every byte of a volume passes through.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "format/sector_size.h"

namespace kestra::platform {

using format::kSectorSize;

// Lock levels a run can hold on a volume. Level 0 is exclusive; 1 is shared with
// writes allowed; 2 and 3 are the short write locks taken from level 1.
constexpr int kNotLocked = -1;

// The one seam every byte of a volume passes through. Sectors are 512 bytes,
// numbered from the start of the volume; a transfer that reaches past the last
// sector fails like a device error and moves nothing.
class SectorDevice {
  public:
    virtual ~SectorDevice() = default;

    virtual bool Read(uint64_t first, uint32_t count, uint8_t* buffer) = 0;
    virtual bool Write(uint64_t first, uint32_t count, const uint8_t* buffer) = 0;
    // Makes every write so far durable before any later one: a barrier (a no-op
    // where the user turned barriers off).
    virtual bool Flush() = 0;
    // False when the user turned barriers off: Flush then asks nothing of the medium.
    virtual bool HasBarriers() const { return true; }
    virtual uint64_t SectorCount() const = 0;
    // System error number of the last failed transfer (0 when unknown).
    virtual int LastError() const { return 0; }

    // Current lock level, or kNotLocked. Nested locks of one level stack.
    virtual int LockState() = 0;
    virtual bool Lock(int level, bool allowWrites) = 0;
    // Releases one hold of the given level; false when that is not the level held.
    virtual bool Unlock(int level) = 0;
    // 0: nothing happened on the volume since the last call; 2: the open-file list
    // changed; another value: another program wrote; -1: the request failed.
    virtual int LockFlagState() = 0;
    // Path of the index-th file another program holds open; false past the end.
    virtual bool OpenFile(uint32_t index, std::string& path) = 0;
    // True when the write locks of a shared volume (levels 2 and 3) keep every
    // other program from writing, so that LockFlagState sees what they did in
    // between. Only then may a run that writes share the volume.
    virtual bool GuardsSharedWrites() const { return false; }
    // True once another program opened the volume since this device was opened
    // (a write lease it held was broken); a run that writes then stops.
    virtual bool OthersOpened() { return false; }
    // Puts every write on the medium and lets go of the volume. False when the
    // medium refused: the last flush or the close failed.
    virtual bool Close() { return true; }
};

using DevicePtr = std::unique_ptr<SectorDevice>;

}  // namespace kestra::platform
