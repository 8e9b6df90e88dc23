// Preloaded into kestra-cli by the tests: every fdatasync fails, as on a medium
// that lost the writes.
#include <cerrno>

extern "C" int fdatasync(int) {
    errno = EIO;
    return -1;
}
