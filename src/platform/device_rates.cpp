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
constexpr size_t kScratchBytes = 4u << 20;
constexpr int kBarrierSamples = 15;
constexpr double kBarrierBudget = 0.3;

bool WriteAt(int fd, const std::vector<uint8_t>& bytes, size_t length, off_t offset) {
    return ::pwrite(fd, bytes.data(), length, offset) == static_cast<ssize_t>(length);
}

// The scratch file written once, then overwritten as an image is: the second
// pass is the rate, without the cost of allocating the blocks.
bool TimeWrites(int fd, DeviceRates& rates) {
    std::vector<uint8_t> bytes(kChunkSectors * kSectorSize, 0x5A);
    double seconds = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const auto start = Clock::now();
        for (size_t at = 0; at < kScratchBytes; at += bytes.size()) {
            if (!WriteAt(fd, bytes, bytes.size(), static_cast<off_t>(at))) return false;
        }
        if (::fdatasync(fd) != 0) return false;
        seconds = Since(start);
    }
    rates.writeBytesPerSecond = Rate(kScratchBytes, seconds);
    std::vector<double> barriers;
    const auto start = Clock::now();
    for (int i = 0; i < kBarrierSamples && Since(start) < kBarrierBudget; ++i) {
        const auto one = Clock::now();
        const off_t at = static_cast<off_t>((i * 64 + 7) % (kScratchBytes / 4096)) * 4096;
        if (!WriteAt(fd, bytes, 4096, at) || ::fdatasync(fd) != 0) return false;
        barriers.push_back(Since(one));
    }
    std::nth_element(barriers.begin(), barriers.begin() + barriers.size() / 2, barriers.end());
    rates.barrierSeconds = barriers[barriers.size() / 2];
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
    rates.barrierSeconds = kAssumedBarrierSeconds;
    return rates;
}

}  // namespace kestra::platform
