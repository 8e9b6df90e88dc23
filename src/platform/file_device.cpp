#include "platform/file_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <csignal>
#include <map>
#include <utility>

#include "format/boot_sector.h"
#include "format/volume_signature.h"
#include "platform/loop_devices.h"

namespace kestra::platform {
namespace {

bool ReadAll(int fd, uint8_t* buffer, size_t bytes, uint64_t offset) {
    while (bytes > 0) {
        const ssize_t n = ::pread(fd, buffer, bytes, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer += n;
        bytes -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* buffer, size_t bytes, uint64_t offset) {
    while (bytes > 0) {
        const ssize_t n = ::pwrite(fd, buffer, bytes, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer += n;
        bytes -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

// A FAT volume's own boot sector carries the same signature as a partition table;
// its boot code fills the slots with bytes no partition entry starts with.
bool HasPartitionTable(const uint8_t* mbr, uint64_t sectors) {
    return format::HasPartitionSlots(mbr) &&
           !format::CheckBootRecord(format::ParseBootRecord(mbr), sectors).empty();
}

// The kernel tells a lease holder by SIGIO that another program opens the file;
// its default action would end the process. The lease itself says it is broken.
void OnLeaseBreak(int) {}

// Leases this process holds, by file. Another opening of the same file here
// would wait for a lease break nobody answers: the lease is given up first, and
// its run stops as for any other opener.
std::map<std::pair<dev_t, ino_t>, int>& Leases() {
    static std::map<std::pair<dev_t, ino_t>, int> leases;
    return leases;
}

void GiveUpLease(const struct stat& st) {
    const auto it = Leases().find({st.st_dev, st.st_ino});
    if (it == Leases().end()) return;
    ::fcntl(it->second, F_SETLEASE, F_UNLCK);
    Leases().erase(it);
}

void WatchLeaseBreaks() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = OnLeaseBreak;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        return ::sigaction(SIGIO, &action, nullptr) == 0;
    }();
    (void)installed;
}

OpenResult Fail(OpenError error, std::string message) {
    OpenResult result;
    result.error = error;
    result.message = std::move(message);
    return result;
}

}  // namespace

void SplitVolumePath(const std::string& volume, std::string& path, int& partition) {
    path = volume;
    partition = 0;
    const size_t at = volume.rfind('@');
    if (at == std::string::npos || at + 2 != volume.size()) return;
    const char n = volume[at + 1];
    if (n < '1' || n > '4') return;
    struct stat st {};
    // A file whose name really ends in "@N" is taken as it is.
    if (::stat(volume.c_str(), &st) == 0) return;
    path = volume.substr(0, at);
    partition = n - '0';
}

std::string MalformedPartition(const std::string& volume) {
    const size_t at = volume.rfind('@');
    if (at == std::string::npos) return {};
    const std::string suffix = volume.substr(at + 1);
    if (suffix.find('/') != std::string::npos) return {};  // an "@" inside a folder name
    if (suffix.size() == 1 && suffix[0] >= '1' && suffix[0] <= '4') return {};
    struct stat st {};
    if (::stat(volume.c_str(), &st) == 0) return {};
    // "me@home.img" that does not exist is a missing file, not a partition number.
    const bool number = suffix.find_first_not_of("0123456789") == std::string::npos;
    if (!number && ::stat(volume.substr(0, at).c_str(), &st) != 0) return {};
    return volume + ": " +
           (suffix.empty() ? "no partition number after '@'"
                           : "'" + suffix + "' is not a partition number") +
           " (PATH@N takes N = 1 to 4)";
}

namespace {

// What stat() says of a volume's path, or why it cannot be a volume.
OpenResult CheckVolumeFile(const std::string& path, const OpenOptions& options, struct stat& st) {
    if (::stat(path.c_str(), &st) != 0) {
        return Fail(errno == EACCES ? OpenError::NoAccess : OpenError::NotFound,
                    path + ": " + std::strerror(errno));
    }
    const bool isBlock = S_ISBLK(st.st_mode);
    if (S_ISDIR(st.st_mode))
        return Fail(OpenError::NotAVolume, path + ": " + std::strerror(EISDIR));
    if (!isBlock && !S_ISREG(st.st_mode)) {
        return Fail(OpenError::NotAVolume, path + ": not an image file or block device");
    }
    if (!isBlock) {
        const std::string loop = LoopDeviceBackedBy(path, options.sysBlock);
        if (!loop.empty()) {
            return Fail(OpenError::Busy,
                        path + ": attached to " + loop + " (loop-mounted?); detach it first");
        }
    }
    return {};
}

// Block devices are opened exclusively, so a mounted one is refused as busy.
OpenResult OpenVolumeFile(const std::string& path, const OpenOptions& options, bool isBlock,
                          OwnedFd& fd) {
    int flags = (options.writable ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    if (isBlock) flags |= O_EXCL;
    fd = OwnedFd(::open(path.c_str(), flags));
    if (fd.Valid()) return {};
    const int err = errno;
    if (err == EBUSY) return Fail(OpenError::Busy, path + ": device is busy (mounted?)");
    if (err == EACCES || err == EPERM || err == EROFS) {
        return Fail(OpenError::NoAccess, path + ": " + std::strerror(err));
    }
    return Fail(OpenError::Io, path + ": " + std::strerror(err));
}

// The whole file or device in sectors; refused when not one sector long.
OpenResult MeasureVolume(const std::string& path, const OwnedFd& fd, const struct stat& st,
                         bool isBlock, uint64_t& sectors) {
    uint64_t bytes = static_cast<uint64_t>(st.st_size);
    if (isBlock && ::ioctl(fd.Get(), BLKGETSIZE64, &bytes) != 0) {
        const int err = errno;
        return Fail(OpenError::Io, path + ": cannot read device size: " + std::strerror(err));
    }
    sectors = bytes / kSectorSize;
    if (sectors != 0) return {};
    return Fail(OpenError::NotAVolume,
                path + ": " +
                    (bytes != 0 ? "only " + std::to_string(bytes) +
                                      " bytes, too short to hold a boot sector"
                     : isBlock ? "no medium (0 bytes)"
                               : "the file is empty, no boot sector"));
}

// Narrows `offset` and `sectors` to primary partition `partition` of the MBR.
OpenResult SelectPartition(const std::string& volume, const OwnedFd& fd, int partition,
                           bool isBlock, uint64_t& offset, uint64_t& sectors) {
    uint8_t mbr[kSectorSize];
    if (!ReadAll(fd.Get(), mbr, kSectorSize, 0)) {
        const int err = errno;
        return Fail(OpenError::Io,
                    volume + ": cannot read the partition table: " + std::strerror(err));
    }
    const format::PartitionSlot entry = format::ReadPartitionSlot(mbr, partition);
    const uint64_t start = entry.start;
    const uint64_t count = entry.count;
    const std::string slot = "partition " + std::to_string(partition);
    const std::string image = isBlock ? "the disk" : "the image";
    std::string why;
    if (!HasPartitionTable(mbr, sectors)) {
        why = image + " has no partition table";
    } else if (entry.type == 0 || count == 0) {
        why = slot + " is empty";
    } else if (start == 0 || start + count > sectors) {
        why = slot + " lies outside " + image;
    }
    if (!why.empty()) return Fail(OpenError::BadPartition, volume + ": " + why);
    offset = start * kSectorSize;
    sectors = count;
    return {};
}

}  // namespace

OpenResult OpenSectorDevice(const std::string& volume, const OpenOptions& options) {
    std::string path;
    int partition = 0;
    SplitVolumePath(volume, path, partition);

    struct stat st {};
    if (OpenResult r = CheckVolumeFile(path, options, st); r.error != OpenError::None) return r;
    const bool isBlock = S_ISBLK(st.st_mode);
    if (!isBlock) GiveUpLease(st);

    OwnedFd fd;
    if (OpenResult r = OpenVolumeFile(path, options, isBlock, fd); r.error != OpenError::None)
        return r;
    uint64_t sectors = 0;
    if (OpenResult r = MeasureVolume(path, fd, st, isBlock, sectors); r.error != OpenError::None)
        return r;
    uint64_t offset = 0;
    if (partition != 0) {
        OpenResult r = SelectPartition(volume, fd, partition, isBlock, offset, sectors);
        if (r.error != OpenError::None) return r;
    }

    OpenResult result;
    // Barriers are always kept on real devices; the opt-out is for images only.
    auto device = std::make_unique<FileDevice>(std::move(fd), offset, sectors, options.writable,
                                               options.writeThrough || isBlock);
    if (options.writable && !isBlock) device->TakeLease();
    result.device = std::move(device);
    return result;
}

FileDevice::FileDevice(OwnedFd fd, uint64_t byteOffset, uint64_t sectors, bool writable,
                       bool barriers)
    : fd_(std::move(fd)),
      offset_(byteOffset),
      sectors_(sectors),
      writable_(writable),
      barriers_(barriers) {}

FileDevice::~FileDevice() {
    Close();
}

bool FileDevice::Close() {
    if (closed_) return closeOk_;
    closed_ = true;
    if (lease_) {
        struct stat st {};
        const auto it =
            ::fstat(fd_.Get(), &st) == 0 ? Leases().find({st.st_dev, st.st_ino}) : Leases().end();
        if (it != Leases().end() && it->second == fd_.Get()) Leases().erase(it);
    }
    // Without barriers this is the one flush of the run; it counts like any.
    if (writable_ && ::fdatasync(fd_.Get()) != 0) {
        lastError_ = errno;
        closeOk_ = false;
    }
    // Also drops any flock and lease held. Not retried: the descriptor is gone.
    if (fd_.Close() != 0 && writable_) {
        lastError_ = errno;
        closeOk_ = false;
    }
    return closeOk_;
}

bool FileDevice::TakeLease() {
    WatchLeaseBreaks();
    // Refused where the file is not ours or another opener has it already.
    lease_ = ::fcntl(fd_.Get(), F_SETLEASE, F_WRLCK) == 0;
    struct stat st {};
    if (lease_ && ::fstat(fd_.Get(), &st) == 0) Leases()[{st.st_dev, st.st_ino}] = fd_.Get();
    return lease_;
}

bool FileDevice::OthersOpened() {
    // While a break is pending the lease reads as what it is to become.
    return lease_ && !closed_ && ::fcntl(fd_.Get(), F_GETLEASE) != F_WRLCK;
}

uint64_t FileDevice::HoleSectors(uint64_t first, uint32_t count) const {
    if (closed_ || !InRange(first, count)) return 0;
    const off_t end = static_cast<off_t>(offset_ + (first + count) * kSectorSize);
    off_t at = static_cast<off_t>(offset_ + first * kSectorSize);
    uint64_t holes = 0;
    while (at < end) {
        off_t data = ::lseek(fd_.Get(), at, SEEK_DATA);
        if (data < 0 && errno != ENXIO) return 0;  // not told: taken as written
        if (data < 0 || data > end) data = end;    // ENXIO: no data from here on
        holes += static_cast<uint64_t>(data - at);
        if (data >= end) break;
        at = ::lseek(fd_.Get(), data, SEEK_HOLE);
        if (at < 0) break;
    }
    return holes / kSectorSize;
}

bool FileDevice::InRange(uint64_t first, uint32_t count) const {
    return first <= sectors_ && count <= sectors_ - first;
}

bool FileDevice::Read(uint64_t first, uint32_t count, uint8_t* buffer) {
    if (closed_ || !InRange(first, count)) {
        lastError_ = ERANGE;
        return false;
    }
    errno = EIO;  // a short read leaves errno untouched
    if (ReadAll(fd_.Get(), buffer, static_cast<size_t>(count) * kSectorSize,
                offset_ + first * kSectorSize)) {
        return true;
    }
    lastError_ = errno;
    return false;
}

bool FileDevice::Write(uint64_t first, uint32_t count, const uint8_t* buffer) {
    if (closed_ || !InRange(first, count)) {
        lastError_ = ERANGE;
        return false;
    }
    errno = EIO;
    if (WriteAll(fd_.Get(), buffer, static_cast<size_t>(count) * kSectorSize,
                 offset_ + first * kSectorSize)) {
        return true;
    }
    lastError_ = errno;
    return false;
}

bool FileDevice::Flush() {
    if (!writable_ || !barriers_) return true;
    if (::fdatasync(fd_.Get()) == 0) return true;
    lastError_ = errno;
    return false;
}

bool FileDevice::Lock(int level, bool) {
    if (!locks_.CanLock(level)) return false;
    // The first hold is backed by a real lock so that other openers see it.
    if (locks_.Empty()) {
        const int op = (level == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB;
        if (::flock(fd_.Get(), op) != 0) return false;
    }
    locks_.Push(level);
    return true;
}

bool FileDevice::Unlock(int level) {
    if (!locks_.Pop(level)) return false;
    if (locks_.Empty()) ::flock(fd_.Get(), LOCK_UN);
    return true;
}

}  // namespace kestra::platform
