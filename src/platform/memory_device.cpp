#include "platform/memory_device.h"

#include <cstring>

namespace kestra::platform {

MemoryDevice::MemoryDevice(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    bytes_.resize(bytes_.size() / kSectorSize * kSectorSize);
}

bool MemoryDevice::Read(uint64_t first, uint32_t count, uint8_t* buffer) {
    if (first > SectorCount() || count > SectorCount() - first) return false;
    std::memcpy(buffer, bytes_.data() + first * kSectorSize, size_t{count} * kSectorSize);
    return true;
}

bool MemoryDevice::Write(uint64_t first, uint32_t count, const uint8_t* buffer) {
    if (first > SectorCount() || count > SectorCount() - first) return false;
    std::memcpy(bytes_.data() + first * kSectorSize, buffer, size_t{count} * kSectorSize);
    return true;
}

bool MemoryDevice::Lock(int level, bool) {
    if (!locks_.CanLock(level)) return false;
    locks_.Push(level);
    return true;
}

}  // namespace kestra::platform
