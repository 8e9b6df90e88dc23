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
constexpr double kWriteWindow = 0.6;
constexpr int kScattered = 16;

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

// Seconds of kScattered small writes spread over the scratch, then one barrier.
double TimedScatter(int fd, const std::vector<uint8_t>& bytes, int round) {
    const auto start = Clock::now();
    for (int k = 0; k < kScattered; ++k) {
        const size_t at = (size_t(k) * kScratchBytes / kScattered + size_t(round) * 8192) %
                          (kScratchBytes - kSmallWrite);
        if (!WriteAt(fd, bytes, kSmallWrite, static_cast<off_t>(at))) return -1;
    }
    return ::fdatasync(fd) == 0 ? Since(start) : -1;
}

struct WriteSamples {
    std::vector<double> big, fill, small, scatter;
};

// One round of samples: 1 MiB over written blocks and into a hole, one small
// write and several scattered ones, each closed by a barrier. False on failure.
bool SampleWrites(int fd, const std::vector<uint8_t>& bytes, int round, WriteSamples& out) {
    const size_t big = bytes.size();
    const off_t at = static_cast<off_t>(size_t(round) * big % kScratchBytes);
    const double b = TimedWrite(fd, bytes, big, at);
    const double s = TimedWrite(fd, bytes, kSmallWrite, at + static_cast<off_t>(big / 2));
    const double c = TimedScatter(fd, bytes, round);
    if (b < 0 || s < 0 || c < 0) return false;
    out.big.push_back(b);
    out.small.push_back(s);
    out.scatter.push_back(c);
    if (round >= kFillSamples) return true;
    const double f = TimedWrite(fd, bytes, big, static_cast<off_t>(kScratchBytes + round * big));
    out.fill.push_back(f);
    return f >= 0;
}

// A run writes its copies in batches of up to 1 MiB and the FAT and folder
// sectors around them, each batch closed by a barrier, into blocks the image
// already has or into its holes. So do the samples, in a scratch file written
// once beforehand and then extended by a hole. The small write is the barrier's
// time; what a 1 MiB write or more small ones take beyond it, the transfers'.
bool TimeWrites(int fd, DeviceRates& rates) {
    const size_t big = size_t{kChunkSectors} * kSectorSize;
    std::vector<uint8_t> bytes(big, 0x5A);
    for (size_t at = 0; at < kScratchBytes; at += big) {
        if (!WriteAt(fd, bytes, big, static_cast<off_t>(at))) return false;
    }
    if (::fdatasync(fd) != 0) return false;
    if (::ftruncate(fd, static_cast<off_t>(kScratchBytes + kFillSamples * big)) != 0) return false;
    WriteSamples samples;
    const auto start = Clock::now();
    for (int i = 0; i < kMaxSamples && (i < kMinSamples || Since(start) < kWriteWindow); ++i) {
        if (!SampleWrites(fd, bytes, i, samples)) return false;
    }
    rates.barrierSeconds = Median(samples.small);
    const auto beyond = [&](const std::vector<double>& v) {
        return std::max(Median(v) - rates.barrierSeconds, 0.0);
    };
    const auto rate = [&](const std::vector<double>& v) {
        const double transfer = beyond(v);
        return Rate(static_cast<double>(big), transfer > 0 ? transfer : Median(v));
    };
    rates.writeBytesPerSecond = rate(samples.big);
    rates.fillBytesPerSecond = rate(samples.fill);
    rates.writeSeconds = beyond(samples.scatter) / (kScattered - 1);
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
