// Loaded with LD_PRELOAD: fails chosen pread calls on one file with EIO, or
// sends the process a real SIGINT when a chosen byte is read. Environment:
//   PREAD_FAULT_PATH    a part of the file's path; other files are left alone
//   PREAD_FAULT_FROM/TO a byte range [FROM, TO): a read touching it fails
//   PREAD_FAULT_AFTER   every read after the first N reads of the file fails
//   PREAD_FAULT_SIGINT  set: instead of failing, the first such read raises SIGINT
//                       and goes through
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using PreadFn = ssize_t (*)(int, void*, size_t, off_t);

std::atomic<long> reads{0};
std::atomic<bool> raised{false};

long long EnvNumber(const char* name, long long otherwise) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtoll(v, nullptr, 10) : otherwise;
}

bool OnWatchedFile(int fd) {
    const char* part = std::getenv("PREAD_FAULT_PATH");
    if (!part || !*part) return false;
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0) return false;
    path[n] = '\0';
    return std::strstr(path, part) != nullptr;
}

// True when this read is to fail (or to raise the signal).
bool Chosen(int fd, size_t count, off_t offset) {
    if (!OnWatchedFile(fd)) return false;
    const long n = ++reads;
    const long long after = EnvNumber("PREAD_FAULT_AFTER", -1);
    if (after >= 0 && n > after) return true;
    const long long from = EnvNumber("PREAD_FAULT_FROM", -1), to = EnvNumber("PREAD_FAULT_TO", -1);
    return from >= 0 && offset < to && offset + static_cast<long long>(count) > from;
}

ssize_t Pread(const char* symbol, int fd, void* buffer, size_t count, off_t offset) {
    static PreadFn real = reinterpret_cast<PreadFn>(::dlsym(RTLD_NEXT, symbol));
    if (Chosen(fd, count, offset)) {
        if (!std::getenv("PREAD_FAULT_SIGINT")) {
            errno = EIO;
            return -1;
        }
        if (!raised.exchange(true)) ::kill(::getpid(), SIGINT);
    }
    return real(fd, buffer, count, offset);
}

}  // namespace

extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    return Pread("pread", fd, buffer, count, offset);
}

extern "C" ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
    return Pread("pread64", fd, buffer, count, offset);
}
