#pragma once

// A volume held in memory.

#include <vector>

#include "platform/lock_table.h"
#include "platform/sector_device.h"

namespace kestra::platform {

// A volume held in memory: the cheap real thing for tests and for building images.
class MemoryDevice : public SectorDevice {
  public:
    explicit MemoryDevice(std::vector<uint8_t> bytes);
    explicit MemoryDevice(uint64_t sectors)
        : MemoryDevice(std::vector<uint8_t>(sectors * kSectorSize)) {}

    bool Read(uint64_t first, uint32_t count, uint8_t* buffer) override;
    bool Write(uint64_t first, uint32_t count, const uint8_t* buffer) override;
    bool Flush() override { return true; }
    uint64_t SectorCount() const override { return bytes_.size() / kSectorSize; }

    int LockState() override { return locks_.State(); }
    bool Lock(int level, bool) override;
    bool Unlock(int level) override { return locks_.Pop(level); }
    int LockFlagState() override { return 0; }
    bool OpenFile(uint32_t, std::string&) override { return false; }

    std::vector<uint8_t>& Bytes() { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
    LockTable locks_;
};

}  // namespace kestra::platform
