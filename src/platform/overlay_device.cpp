#include "platform/overlay_device.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/file_device.h"

namespace kestra::platform {

const uint8_t* OverlaySectors::Find(uint64_t sector) const {
    const auto it = slots_.find(sector);
    if (it == slots_.end()) return nullptr;
    return chunks_[it->second / kChunkSectors].get() + (it->second % kChunkSectors) * kSectorSize;
}

bool OverlaySectors::Put(uint64_t sector, const uint8_t* bytes) {
    const auto [it, added] = slots_.try_emplace(sector, slots_.size());
    if (added && it->second / kChunkSectors == chunks_.size())
        chunks_.push_back(std::make_unique<uint8_t[]>(kChunkSectors * kSectorSize));
    std::memcpy(const_cast<uint8_t*>(Find(sector)), bytes, kSectorSize);
    return added;
}

OverlayDevice::OverlayDevice(DevicePtr inner, std::shared_ptr<OverlaySectors> sectors)
    : inner_(std::move(inner)), sectors_(std::move(sectors)) {}

bool OverlayDevice::Read(uint64_t first, uint32_t count, uint8_t* buffer) {
    lastError_ = 0;
    if (closed_) {
        lastError_ = EBADF;
        return false;
    }
    // The device is read whole even where the overlay covers it: a sector that
    // cannot be read fails the run as it would without the overlay.
    const auto start = std::chrono::steady_clock::now();
    const bool read = inner_->Read(first, count, buffer);
    sectors_->readSeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!read) return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (const uint8_t* kept = sectors_->Find(first + i))
            std::memcpy(buffer + size_t{i} * kSectorSize, kept, kSectorSize);
    }
    return true;
}

bool OverlayDevice::Write(uint64_t first, uint32_t count, const uint8_t* buffer) {
    lastError_ = 0;
    const uint64_t sectors = inner_->SectorCount();
    if (closed_ || first > sectors || count > sectors - first) {
        lastError_ = closed_ ? EBADF : ERANGE;
        return false;
    }
    ++sectors_->writes;
    // Only a sector's first write can land in a hole; the holes are asked for per
    // run of such sectors.
    const auto* file = dynamic_cast<const FileDevice*>(inner_.get());
    uint32_t run = 0;
    for (uint32_t i = 0; i <= count; ++i) {
        if (i < count && sectors_->Put(first + i, buffer + size_t{i} * kSectorSize)) {
            ++run;
            continue;
        }
        if (run != 0 && file) sectors_->holeSectors += file->HoleSectors(first + i - run, run);
        run = 0;
    }
    return true;
}

bool OverlayDevice::Flush() {
    ++sectors_->flushes;
    return !closed_;
}

bool OverlayDevice::Close() {
    if (closed_) return true;
    closed_ = true;
    return inner_->Close();
}

}  // namespace kestra::platform
