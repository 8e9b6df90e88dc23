// VolumeIo's watch over the sectors a run may rewrite, against another program
// writing the same image.
#include <cstring>
#include <vector>

#include "disk/volume_io.h"

namespace kestra::disk {
namespace {

using platform::kSectorSize;

// FNV-1a; never 0, which marks a sector not read yet.
uint64_t SectorSum(const uint8_t* bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint32_t i = 0; i < kSectorSize; ++i)
        h = (h ^ bytes[i]) * 0x100000001b3ull;
    return h | 1;
}

}  // namespace

void VolumeIo::WatchBelow(int64_t end) {
    if (end <= 0) return;
    watching_ = true;
    belowSums_.assign(static_cast<size_t>(end), 0);
}

void VolumeIo::Watch(int64_t first, uint64_t count) {
    if (!watching_) return;
    for (uint64_t i = 0; i < count; ++i) {
        const int64_t s = first + static_cast<int64_t>(i);
        if (s >= static_cast<int64_t>(belowSums_.size())) folderSums_.try_emplace(s, 0);
    }
}

uint64_t* VolumeIo::SumOf(int64_t sector) {
    if (sector < 0) return nullptr;
    if (sector < static_cast<int64_t>(belowSums_.size()))
        return &belowSums_[static_cast<size_t>(sector)];
    const auto it = folderSums_.find(sector);
    return it == folderSums_.end() ? nullptr : &it->second;
}

// A read records what the medium holds where nothing was known; where the run
// knew what was there, a difference is another program's write.
void VolumeIo::Seen(const uint8_t* bytes, int64_t first, uint64_t count, bool written) {
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t* sum = SumOf(first + static_cast<int64_t>(i));
        if (!sum) continue;
        const uint64_t now = SectorSum(bytes + i * kSectorSize);
        if (!written && *sum != 0 && *sum != now) Foreign();
        *sum = now;
    }
}

// Reads the watched sectors of a transfer again, before it is written.
bool VolumeIo::Unchanged(int64_t first, uint64_t count, bool askOpened) {
    if (askOpened && VolumeHandle->OthersOpened()) Foreign();
    std::vector<uint8_t> sector(kSectorSize);
    for (uint64_t i = 0; i < count && !foreign_; ++i) {
        const int64_t s = first + static_cast<int64_t>(i);
        const uint64_t* sum = SumOf(s);
        if (!sum || *sum == 0) continue;
        if (!VolumeHandle->Read(static_cast<uint64_t>(s), 1, sector.data())) break;
        if (SectorSum(sector.data()) != *sum) Foreign();
    }
    return !foreign_;
}

bool VolumeIo::HeldUnchanged(size_t fromStep) {
    for (size_t k = fromStep; k < held_.size(); ++k) {
        for (const auto& [sector, bytes] : held_[k]) {
            if (SumOf(sector) && !Unchanged(sector, 1, false)) return false;
        }
    }
    return Unchanged(0, 0, true);
}

void VolumeIo::Foreign() {
    foreign_ = true;
    flags_.VolumeTouched = true;
    flags_.RestartRun = true;
    flags_.RunError = true;
}

}  // namespace kestra::disk
