#include "platform/device_rates.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

#include "platform/file_device.h"
#include "platform/owned_fd.h"

namespace kestra::platform {
namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A time too short for the clock still gives a finite rate.
double Rate(double bytes, double seconds) {
    return bytes / std::max(seconds, 1e-6);
}

constexpr uint32_t kChunkSectors = 2048;  // 1 MiB
constexpr int kReadChunks = 32;
constexpr double kReadBudget = 0.25;
constexpr size_t kScratchBytes = 8u << 20;
constexpr size_t kSmallWrite = 4096;
// Samples go on for kWriteWindow seconds (at least kMinSamples of them): another
// program's burst of writes then moves the medians little.
constexpr int kMinSamples = 5, kMaxSamples = 400, kFillSamples = 32;
constexpr double kWriteWindow = 0.4;

bool WriteAt(int fd, const std::vector<uint8_t>& bytes, size_t length, off_t offset) {
    return ::pwrite(fd, bytes.data(), length, offset) == static_cast<ssize_t>(length);
}

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// Seconds of one write of `length` bytes at `at` followed by its barrier; < 0 on failure.
double TimedWrite(int fd, const std::vector<uint8_t>& bytes, size_t length, off_t at) {
    const auto start = Clock::now();
    if (!WriteAt(fd, bytes, length, at) || ::fdatasync(fd) != 0) return -1;
    return Since(start);
}

// A run writes its copies in batches of up to 1 MiB, each closed by a barrier,
// into blocks the image already has. So does this: a 1 MiB write and a 4 KiB
// write, each with its barrier, into a scratch file written once beforehand.
// The small one is the barrier's time; the difference is the 1 MiB's transfer.
bool TimeWrites(int fd, DeviceRates& rates) {
    const size_t big = size_t{kChunkSectors} * kSectorSize;
    std::vector<uint8_t> bytes(big, 0x5A);
    for (size_t at = 0; at < kScratchBytes; at += big) {
        if (!WriteAt(fd, bytes, big, static_cast<off_t>(at))) return false;
    }
    if (::fdatasync(fd) != 0) return false;
    // Past the written part the file is one hole, as the free space of a sparse image.
    if (::ftruncate(fd, static_cast<off_t>(kScratchBytes + kFillSamples * big)) != 0) return false;
    std::vector<double> bigs, fills, smalls;
    const auto start = Clock::now();
    for (int i = 0; i < kMaxSamples && (i < kMinSamples || Since(start) < kWriteWindow); ++i) {
        const off_t at = static_cast<off_t>(i * big % kScratchBytes);
        const double b = TimedWrite(fd, bytes, big, at);
        const double s = TimedWrite(fd, bytes, kSmallWrite, at + static_cast<off_t>(big / 2));
        if (b < 0 || s < 0) return false;
        bigs.push_back(b);
        smalls.push_back(s);
        if (i >= kFillSamples) continue;
        const double f = TimedWrite(fd, bytes, big, static_cast<off_t>(kScratchBytes + i * big));
        if (f < 0) return false;
        fills.push_back(f);
    }
    rates.barrierSeconds = Median(smalls);
    const auto rate = [&](double seconds) {
        const double transfer = seconds - rates.barrierSeconds;
        return Rate(big, transfer > 0 ? transfer : seconds);
    };
    rates.writeBytesPerSecond = rate(Median(bigs));
    rates.fillBytesPerSecond = rate(Median(fills));
    return true;
}

}  // namespace

double MeasureReadRate(SectorDevice& device) {
    const uint64_t sectors = device.SectorCount();
    const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, sectors));
    if (chunk == 0) return 0;
    std::vector<uint8_t> buffer(size_t{chunk} * kSectorSize);
    const uint64_t stride = (sectors - chunk) / kReadChunks;
    double bytes = 0;
    const auto start = Clock::now();
    for (int i = 0; i < kReadChunks && Since(start) < kReadBudget; ++i) {
        if (!device.Read(stride * static_cast<uint64_t>(i), chunk, buffer.data())) break;
        bytes += static_cast<double>(buffer.size());
    }
    return Rate(bytes, Since(start));
}

bool MeasureWriteRates(const std::string& folder, DeviceRates& rates) {
    std::string name =
        (std::filesystem::path(folder.empty() ? "." : folder) / ".kestra-rate-XXXXXX").string();
    OwnedFd fd(::mkstemp(name.data()));
    if (!fd.Valid()) return false;
    const bool measured = TimeWrites(fd.Get(), rates);
    ::unlink(name.c_str());
    return measured;
}

DeviceRates MeasureDeviceRates(SectorDevice& device, const std::string& volume) {
    DeviceRates rates;
    rates.readBytesPerSecond = MeasureReadRate(device);
    std::string path;
    int partition = 0;
    SplitVolumePath(volume, path, partition);
    struct stat st {};
    const bool image = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (image && MeasureWriteRates(std::filesystem::absolute(path).parent_path().string(), rates)) {
        return rates;
    }
    rates.writesAssumed = true;
    rates.writeBytesPerSecond = rates.readBytesPerSecond * kAssumedWriteShare;
    rates.fillBytesPerSecond = rates.writeBytesPerSecond;
    rates.barrierSeconds = kAssumedBarrierSeconds;
    return rates;
}

}  // namespace kestra::platform
