#pragma once

// A device whose writes stay in memory: a dry run sees what it wrote, the volume
// below never does.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/sector_device.h"

namespace kestra::platform {

// The sectors written through every opening of one overlaid volume, so that a run
// that closes and reopens the volume (a restart) reads back what it wrote. Memory
// grows with the sectors written, never with the volume.
class OverlaySectors {
  public:
    // Null when the sector was never written.
    const uint8_t* Find(uint64_t sector) const;
    // False when the sector was written before (its copy is replaced).
    bool Put(uint64_t sector, const uint8_t* bytes);
    uint64_t Count() const { return slots_.size(); }

    uint64_t flushes = 0;
    uint64_t writes = 0;  // transfers written
    // Sectors written that are holes of a sparse image below: a real run has the
    // file system allocate them.
    uint64_t holeSectors = 0;
    // Time the reads of the device below took, for the estimate of a real run.
    double readSeconds = 0;

  private:
    static constexpr size_t kChunkSectors = 2048;
    std::unordered_map<uint64_t, uint64_t> slots_;  // sector -> slot
    std::vector<std::unique_ptr<uint8_t[]>> chunks_;
};

// Reads come from the device below except for sectors written through the
// overlay; writes never reach it. Flush counts and asks nothing of the medium;
// everything else (locks, barriers, size) is the device's own, so that a run
// behaves as on the device alone.
class OverlayDevice : public SectorDevice {
  public:
    OverlayDevice(DevicePtr inner, std::shared_ptr<OverlaySectors> sectors);

    bool Read(uint64_t first, uint32_t count, uint8_t* buffer) override;
    bool Write(uint64_t first, uint32_t count, const uint8_t* buffer) override;
    bool Flush() override;
    bool HasBarriers() const override { return inner_->HasBarriers(); }
    uint64_t SectorCount() const override { return inner_->SectorCount(); }
    int LastError() const override { return lastError_ ? lastError_ : inner_->LastError(); }

    int LockState() override { return inner_->LockState(); }
    bool Lock(int level, bool allowWrites) override { return inner_->Lock(level, allowWrites); }
    bool Unlock(int level) override { return inner_->Unlock(level); }
    int LockFlagState() override { return inner_->LockFlagState(); }
    bool OpenFile(uint32_t index, std::string& path) override {
        return inner_->OpenFile(index, path);
    }
    bool GuardsSharedWrites() const override { return inner_->GuardsSharedWrites(); }
    bool OthersOpened() override { return inner_->OthersOpened(); }
    // Lets go of the device below; nothing is written to it.
    bool Close() override;

  private:
    DevicePtr inner_;
    std::shared_ptr<OverlaySectors> sectors_;
    int lastError_ = 0;
    bool closed_ = false;
};

}  // namespace kestra::platform
