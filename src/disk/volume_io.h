#pragma once

// The volume handle: every sector of a run passes through here.

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/sector_device.h"
#include "platform/ui_host.h"
#include "platform/volume_catalogue.h"
#include "report/run_flags.h"

namespace kestra::disk {

enum class Access { Read, ReadWrite };

// The volume handle, the sequential-transfer cursor, the lock bookkeeping and the
// open-file list of the volume being run. Every sector of a run passes through here.
class VolumeIo {
  public:
    VolumeIo(const platform::VolumeCatalogue& catalogue, platform::UiHost& ui,
             report::RunFlags& flags)
        : catalogue_(catalogue), ui_(ui), flags_(flags) {}

    // Device
    platform::DevicePtr OpenVolume(const std::string& driveLetter, Access access);
    static bool CloseVolumeHandle(platform::DevicePtr& handle);

    // Sequential transfers. Sizes are in bytes; the whole sectors they hold move.
    void SetNextSector(int64_t sector) { NextSector = sector; }
    bool ReadSectors(void* buffer, uint64_t bytes, uint64_t* transferred = nullptr);
    bool ReadSectorsNext(void* buffer, uint64_t bytes, uint64_t* transferred = nullptr);
    bool WriteSectorsNext(const void* buffer, uint64_t bytes, uint64_t* transferred = nullptr);
    // 0 on success, 1 on failure; leaves NextSector at 1 either way.
    int ReadBootSector(uint8_t* buffer, uint64_t* transferred = nullptr);

    // Makes every write so far durable before the next one starts. Nothing is
    // asked of the device when nothing was written since the last barrier. False
    // when the device could not.
    bool Barrier();

    // Held writes, for a group of moves whose steps share their barriers: while
    // a step (1 .. kHeldSteps) is set, writes wait in that step's queue, and reads
    // see them. FlushHeld writes the queues in step order, adjacent sectors joined
    // into one transfer, with a barrier after each step but those set in
    // `sharesNext` (bit k-1 for step k), whose writes share the next step's.
    static constexpr int kHeldSteps = 3;
    void HoldWrites(int step) { heldStep_ = step; }
    bool FlushHeld(std::bitset<kHeldSteps> sharesNext = {});
    void DropHeld();
    bool HasHeldWrites() const { return heldSectors_ != 0; }

    // Another program writing the volume (nothing on Linux locks an image for
    // mtools and the like). The sectors a run may rewrite are watched: the
    // reserved area, the FATs and the fixed root (sectors below `end`), and each
    // folder sector named with Watch. What the medium held when the run first
    // read a watched sector, or what the run wrote there, must still be there
    // before the run writes it. A difference, or another program opening the
    // image, stops the run as on a shared volume another program wrote to, and
    // no later write reaches the medium.
    void WatchBelow(int64_t end);
    void Watch(int64_t first, uint64_t count);
    bool ForeignWrite() const { return foreign_; }

    // Set by a writing run: BeforeFirstWrite runs once, before the first write
    // reaches the device; AfterLastWrite once, when the volume is released.
    std::function<bool()> BeforeFirstWrite;
    std::function<void()> AfterLastWrite;

    // What reached the device, for the run's I/O line.
    uint64_t BytesRead = 0;
    uint64_t BytesWritten = 0;
    uint64_t Barriers = 0;

    void ReadFailed();
    void WriteFailed();

    // Lock requests. A level word is the lock level times 256.
    int GetLockState();
    int GetLockFlagState(int drive);
    bool LockVolume(int levelWord);
    void UnlockVolume(int levelWord);
    void DropToLevel1();
    // False when the last flush or the close failed (flagged as a write failure).
    bool ReleaseVolume();

    // Files other programs hold open.
    bool GetOpenFile(int drive, uint32_t index, std::string& path);
    int32_t EnumOpenFiles();
    static uint32_t NameHash(const std::string& text);
    bool IsOpenFile(const std::string& fullPath, const std::string& name) const;

    platform::DevicePtr VolumeHandle;  // empty when closed
    int DriveIndex = 0;                // 0 = A:
    std::string DriveLetter;
    int64_t NextSector = 0;
    int ExtIOError = 0;  // system error of the last failed read
    int LockLevel = -1;
    bool Level0Lock = false;
    std::vector<std::string> OpenFileNames;
    std::vector<uint32_t> OpenFileHash;
    int32_t OpenFileCount = 0;
    // Why the last OpenVolume failed.
    platform::OpenError OpenErrorKind = platform::OpenError::None;
    std::string OpenErrorText;

    report::RunFlags& Flags() { return flags_; }
    platform::UiHost& Ui() { return ui_; }

  private:
    bool ReadSectorsRaw(void* buffer, int64_t first, uint64_t count);
    bool WriteSectorsRaw(const void* buffer, int64_t first, uint64_t count);
    void Hold(const uint8_t* buffer, int64_t first, uint64_t count);
    uint64_t* SumOf(int64_t sector);
    void Seen(const uint8_t* bytes, int64_t first, uint64_t count, bool written);
    bool Unchanged(int64_t first, uint64_t count, bool askOpened = true);
    bool HeldUnchanged(size_t fromStep);
    void Foreign();

    bool RunBeforeFirstWrite();

    using HeldSector = std::array<uint8_t, platform::kSectorSize>;
    std::array<std::map<int64_t, HeldSector>, kHeldSteps> held_;
    uint64_t heldSectors_ = 0;
    int heldStep_ = 0;
    bool flushing_ = false;
    bool unsynced_ = false;            // written since the last barrier
    std::vector<uint64_t> belowSums_;  // watched sectors' sums; 0: not read yet
    std::unordered_map<int64_t, uint64_t> folderSums_;
    bool watching_ = false;
    bool foreign_ = false;

    const platform::VolumeCatalogue& catalogue_;
    platform::UiHost& ui_;
    report::RunFlags& flags_;
};

}  // namespace kestra::disk
