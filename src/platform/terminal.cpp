#include "platform/terminal.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace kestra::platform {
namespace {

volatile std::sig_atomic_t interrupts = 0;
volatile std::sig_atomic_t signalled = 0;

void OnInterrupt(int) {
    interrupts = interrupts + 1;
    signalled = 1;
}

}  // namespace

bool IsTerminal(int fd) {
    return ::isatty(fd) == 1;
}

bool AnsiTerminal(int fd) {
    const char* noColour = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    if (noColour != nullptr && *noColour != 0) return false;
    if (term == nullptr || *term == 0 || std::string(term) == "dumb") return false;
    return IsTerminal(fd);
}

void WatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Transfers go on where they were: a stop waits for the safe point anyway.
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        ::sigaction(sig, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

bool TakeInterrupt() {
    if (interrupts == 0) return false;
    interrupts = 0;
    return true;
}

std::string PrepareLogFile(const std::string& path, bool truncate) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0666);
    if (fd < 0) return path + ": " + std::strerror(errno);
    ::close(fd);
    return {};
}

bool StopSignalled() {
    return signalled != 0;
}

std::string AppendTextFile(const std::string& path, const std::string& text, bool create) {
    std::ofstream out(
        path, create ? std::ios::binary | std::ios::trunc : std::ios::binary | std::ios::app);
    if (!out) return path + ": " + std::strerror(errno);
    out << text << "\r\n";
    out.close();
    if (!out) return path + ": write failed";
    return {};
}

}  // namespace kestra::platform
