#include "platform/image_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestra::platform {
namespace {

bool AllZero(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

}  // namespace

std::string WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return path + ": " + std::strerror(errno);
    constexpr size_t kBlock = 64 * 1024;
    bool ok = ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
    for (size_t at = 0; ok && at < bytes.size(); at += kBlock) {
        const size_t n = std::min(kBlock, bytes.size() - at);
        if (AllZero(bytes.data() + at, n)) continue;
        ok = ::pwrite(fd, bytes.data() + at, n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
    }
    const int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) return path + ": " + std::strerror(errno);
    return ok ? std::string() : path + ": " + std::strerror(err);
}

}  // namespace kestra::platform
