#include "disk/volume_io.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kestra::disk {

using platform::kSectorSize;

platform::DevicePtr VolumeIo::OpenVolume(const std::string& driveLetter, Access access) {
    const char letter = driveLetter.empty() ? '@' : static_cast<char>(std::toupper(driveLetter[0]));
    DriveIndex = letter - 'A';
    platform::OpenOptions options;
    options.writable = access == Access::ReadWrite;
    platform::OpenResult opened = catalogue_.Open(letter, options);
    OpenErrorKind = opened.error;
    OpenErrorText = opened.message;
    // A new opening watches nothing until the run says what it may rewrite.
    watching_ = foreign_ = false;
    belowSums_.clear();
    folderSums_.clear();
    return std::move(opened.device);
}

bool VolumeIo::CloseVolumeHandle(platform::DevicePtr& handle) {
    if (!handle) return false;
    const bool closed = handle->Close();
    handle.reset();
    return closed;
}

bool VolumeIo::ReadSectorsRaw(void* buffer, int64_t first, uint64_t count) {
    ExtIOError = 0;
    if (!VolumeHandle || first < 0 || count > UINT32_MAX) return false;
    auto* bytes = static_cast<uint8_t*>(buffer);
    if (!VolumeHandle->Read(static_cast<uint64_t>(first), static_cast<uint32_t>(count), bytes)) {
        ExtIOError = VolumeHandle->LastError();
        return false;
    }
    BytesRead += count * kSectorSize;
    if (watching_) Seen(bytes, first, count, false);
    // A held write is what the sector holds for everything the run does next.
    for (const auto& step : held_) {
        for (auto it = step.lower_bound(first);
             it != step.end() && it->first < first + static_cast<int64_t>(count); ++it) {
            std::memcpy(bytes + (it->first - first) * kSectorSize, it->second.data(), kSectorSize);
        }
    }
    return true;
}

bool VolumeIo::WriteSectorsRaw(const void* buffer, int64_t first, uint64_t count) {
    if (!VolumeHandle || first < 0 || count > UINT32_MAX) return false;
    if (BeforeFirstWrite && !RunBeforeFirstWrite()) return false;
    if (heldStep_ > 0) {
        Hold(static_cast<const uint8_t*>(buffer), first, count);
        return true;
    }
    // A write around held ones would reach the medium before them: out of order.
    if (heldSectors_ != 0 && !flushing_) {
        flags_.InternalErrorFlag = true;
        return false;
    }
    if (foreign_ || (watching_ && !flushing_ && !Unchanged(first, count))) return false;
    unsynced_ = true;
    if (!VolumeHandle->Write(static_cast<uint64_t>(first), static_cast<uint32_t>(count),
                             static_cast<const uint8_t*>(buffer))) {
        return false;
    }
    BytesWritten += count * kSectorSize;
    if (watching_) Seen(static_cast<const uint8_t*>(buffer), first, count, true);
    return true;
}

bool VolumeIo::RunBeforeFirstWrite() {
    const std::function<bool()> first = std::move(BeforeFirstWrite);
    BeforeFirstWrite = nullptr;
    // Its own writes go straight to the medium, ahead of any held one.
    const int step = heldStep_;
    const int64_t next = NextSector;
    heldStep_ = 0;
    const bool ok = first();
    heldStep_ = step;
    NextSector = next;
    return ok;
}

void VolumeIo::Hold(const uint8_t* buffer, int64_t first, uint64_t count) {
    const int step = std::clamp(heldStep_, 1, kHeldSteps);
    for (uint64_t i = 0; i < count; ++i) {
        const auto [it, added] = held_[step - 1].try_emplace(first + static_cast<int64_t>(i));
        std::memcpy(it->second.data(), buffer + i * kSectorSize, kSectorSize);
        if (added) ++heldSectors_;
    }
}

bool VolumeIo::FlushHeld(std::bitset<kHeldSteps> sharesNext) {
    heldStep_ = 0;
    flushing_ = true;
    bool ok = true;
    std::vector<uint8_t> joined;
    for (size_t k = 0; k < held_.size(); ++k) {
        const auto& step = held_[k];
        // What this step and the later ones rewrite is still as the run saw it.
        ok = ok && (!watching_ || HeldUnchanged(k));
        for (auto it = step.begin(); ok && it != step.end();) {
            const int64_t first = it->first;
            int64_t next = first;
            joined.clear();
            for (; it != step.end() && it->first == next; ++it, ++next)
                joined.insert(joined.end(), it->second.begin(), it->second.end());
            NextSector = first;
            ok = WriteSectorsNext(joined.data(), joined.size());
        }
        if (!sharesNext[k]) ok = ok && Barrier();
    }
    // After a failed write the rest never reaches the medium, as after a power cut.
    DropHeld();
    flushing_ = false;
    return ok;
}

void VolumeIo::DropHeld() {
    heldStep_ = 0;
    for (auto& step : held_)
        step.clear();
    heldSectors_ = 0;
}

bool VolumeIo::ReadSectors(void* buffer, uint64_t bytes, uint64_t* transferred) {
    if (transferred) *transferred = bytes;
    if (ReadSectorsRaw(buffer, NextSector, bytes / kSectorSize)) return true;
    ReadFailed();
    return false;
}

bool VolumeIo::ReadSectorsNext(void* buffer, uint64_t bytes, uint64_t* transferred) {
    if (transferred) *transferred = bytes;
    const uint64_t count = bytes / kSectorSize;
    const bool ok = ReadSectorsRaw(buffer, NextSector, count);
    NextSector += static_cast<int64_t>(count);
    if (!ok) ReadFailed();
    return ok;
}

bool VolumeIo::WriteSectorsNext(const void* buffer, uint64_t bytes, uint64_t* transferred) {
    if (transferred) *transferred = bytes;
    const uint64_t count = bytes / kSectorSize;
    const bool ok = WriteSectorsRaw(buffer, NextSector, count);
    NextSector += static_cast<int64_t>(count);
    // A write held back from another program's change is no disk error.
    if (!ok && !foreign_) WriteFailed();
    return ok;
}

int VolumeIo::ReadBootSector(uint8_t* buffer, uint64_t* transferred) {
    const bool ok = ReadSectorsRaw(buffer, 0, 1);
    NextSector = 1;
    if (transferred) *transferred = ok ? kSectorSize : 0;
    return ok ? 0 : 1;
}

bool VolumeIo::Barrier() {
    if (!unsynced_) return true;
    unsynced_ = false;
    if (VolumeHandle && !VolumeHandle->HasBarriers()) return true;
    if (VolumeHandle && VolumeHandle->Flush()) {
        ++Barriers;
        return true;
    }
    WriteFailed();
    return false;
}

void VolumeIo::ReadFailed() {
    flags_.AbortRun = 1;
    flags_.RunError = true;
    flags_.ErrText = "Error reading drive";
    flags_.DiskErrorFlag = true;
}

void VolumeIo::WriteFailed() {
    flags_.AbortRun = 1;
    flags_.RunError = true;
    flags_.ErrText = "Error writing drive";
    flags_.DiskErrorFlag = true;
}

int VolumeIo::GetLockState() {
    // A failed request reads as level 0, as the old device reported it.
    if (!VolumeHandle) return 0;
    return VolumeHandle->LockState();
}

int VolumeIo::GetLockFlagState(int /*drive*/) {
    if (!VolumeHandle) return -1;
    return VolumeHandle->LockFlagState();
}

bool VolumeIo::LockVolume(int levelWord) {
    if (!VolumeHandle) return false;
    return VolumeHandle->Lock(levelWord / 256, levelWord == 256);
}

void VolumeIo::UnlockVolume(int levelWord) {
    const int level = levelWord / 256;
    if (!VolumeHandle || GetLockState() != level) return;
    // Nested holds of one level need one unlock each.
    for (int attempt = 1; attempt <= 5; ++attempt) {
        VolumeHandle->Unlock(level);
        if (GetLockState() != level) return;
    }
}

void VolumeIo::DropToLevel1() {
    if (GetLockState() == 1 && !flags_.DropLocksFlag) return;
    for (int i = 0; i < 1001; ++i) {
        LockLevel = GetLockState();
        switch (LockLevel) {
            case -1:
                return;
            case 0:
                if (!flags_.DropLocksFlag) ui_.DoEvents();
                break;
            case 1:
                flags_.DropLocksFlag = false;
                return;
            case 2:
                UnlockVolume(512);
                break;
            case 3:
                UnlockVolume(768);
                break;
            default:
                break;
        }
    }
    LockLevel = 0;
}

bool VolumeIo::ReleaseVolume() {
    BeforeFirstWrite = nullptr;
    if (AfterLastWrite && VolumeHandle) {
        const std::function<void()> last = std::move(AfterLastWrite);
        AfterLastWrite = nullptr;
        last();
    }
    if (!(GetLockState() < 0 && LockLevel < 0)) {
        if (GetLockState() == 0 && Level0Lock) {
            UnlockVolume(0);
        } else {
            DropToLevel1();
            UnlockVolume(256);
        }
        LockLevel = GetLockState();
    }
    // The last flush and the close count like any write: a volume whose writes
    // the medium may have lost is no clean ending.
    const bool closed = !VolumeHandle || VolumeHandle->Close();
    if (!closed) {
        ExtIOError = VolumeHandle->LastError();
        WriteFailed();
    }
    CloseVolumeHandle(VolumeHandle);
    ui_.DoEvents();
    return closed;
}

bool VolumeIo::GetOpenFile(int /*drive*/, uint32_t index, std::string& path) {
    if (!VolumeHandle) return false;
    return VolumeHandle->OpenFile(index, path);
}

int32_t VolumeIo::EnumOpenFiles() {
    OpenFileNames.assign(3, {});
    OpenFileHash.assign(3, 0);
    uint32_t index = 0;
    std::string path;
    while (GetOpenFile(DriveIndex + 1, index, path)) {
        if (index >= OpenFileNames.size()) {
            OpenFileNames.resize(OpenFileNames.size() + 10);
            OpenFileHash.resize(OpenFileHash.size() + 10);
        }
        OpenFileNames[index] = path;
        const size_t slash = path.find_last_of('\\');
        OpenFileHash[index] = NameHash(slash == std::string::npos ? path : path.substr(slash + 1));
        ++index;
    }
    return static_cast<int32_t>(index);
}

uint32_t VolumeIo::NameHash(const std::string& text) {
    // Unsigned arithmetic wraps instead of overflowing on long names; short names
    // hash exactly as before.
    uint32_t h = 0;
    for (const char c : text)
        h = h * 3 + static_cast<uint8_t>(c);
    return h;
}

bool VolumeIo::IsOpenFile(const std::string& fullPath, const std::string& name) const {
    const uint32_t hash = NameHash(name);
    for (int32_t i = 0; i < OpenFileCount && i < static_cast<int32_t>(OpenFileHash.size()); ++i) {
        if (OpenFileHash[i] == hash && OpenFileNames[i] == fullPath) return true;
    }
    return false;
}

}  // namespace kestra::disk
