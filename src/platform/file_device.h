#pragma once

// The real sector device over an image file, a partition or a block device.

#include <string>

#include "platform/lock_table.h"
#include "platform/owned_fd.h"
#include "platform/sector_device.h"

namespace kestra::platform {

struct OpenOptions {
    bool writable = false;
    // Flush() is a real barrier (fdatasync): every write before it is on the
    // medium before any write after it. Turning it off is only offered for image
    // files: faster, but a power cut can reorder writes.
    bool writeThrough = true;
    // Where the kernel lists block devices; an image a loop device reads from
    // is refused as busy.
    std::string sysBlock = "/sys/block";
};

// NotAVolume: a folder, a character device, or too short to hold a boot sector.
enum class OpenError { None, NotFound, Busy, NoAccess, NotAVolume, BadPartition, Io };

struct OpenResult {
    DevicePtr device;
    OpenError error = OpenError::None;
    std::string message;
};

// Opens "PATH" (an image file or a block device) or "PATH@N" (primary partition N,
// 1..4, of an image or disk with an MBR). Block devices are opened exclusively, so a
// mounted device is refused as busy.
OpenResult OpenSectorDevice(const std::string& volume, const OpenOptions& options);

// Splits "PATH@N" into its path and partition number (0 when there is none).
void SplitVolumePath(const std::string& volume, std::string& path, int& partition);
// Why a volume ending in "@..." is a malformed "PATH@N" (no file has that exact
// name and what follows the "@" is not 1..4); empty when it is not.
std::string MalformedPartition(const std::string& volume);

// Sectors of a volume inside a file or device, addressed from the volume's start.
// Levels 0 and 1 are backed by flock, so other openers see them; levels 2 and 3
// exist only here, and nothing keeps another program from writing under them.
// A writable image file holds a write lease where the host grants one: another
// program that opens it then waits, and OthersOpened tells the run to stop.
class FileDevice : public SectorDevice {
  public:
    FileDevice(OwnedFd fd, uint64_t byteOffset, uint64_t sectors, bool writable, bool barriers);
    ~FileDevice() override;
    FileDevice(const FileDevice&) = delete;
    FileDevice& operator=(const FileDevice&) = delete;

    bool Read(uint64_t first, uint32_t count, uint8_t* buffer) override;
    bool Write(uint64_t first, uint32_t count, const uint8_t* buffer) override;
    bool Flush() override;
    bool HasBarriers() const override { return barriers_; }
    uint64_t SectorCount() const override { return sectors_; }
    int LastError() const override { return lastError_; }

    int LockState() override { return locks_.State(); }
    bool Lock(int level, bool allowWrites) override;
    bool Unlock(int level) override;
    int LockFlagState() override { return 0; }
    bool OpenFile(uint32_t, std::string&) override { return false; }
    bool OthersOpened() override;
    bool Close() override;
    // How many of the sectors are holes of a sparse file (0 on a block device).
    uint64_t HoleSectors(uint64_t first, uint32_t count) const;
    // Takes the write lease; false when the host or another opener refuses it.
    bool TakeLease();
    bool HasLease() const { return lease_; }

  private:
    bool InRange(uint64_t first, uint32_t count) const;

    OwnedFd fd_;
    uint64_t offset_;
    uint64_t sectors_;
    bool writable_;
    bool barriers_;
    LockTable locks_;
    int lastError_ = 0;
    bool lease_ = false;
    bool closed_ = false;
    bool closeOk_ = true;
};

}  // namespace kestra::platform
