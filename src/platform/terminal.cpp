#include "platform/terminal.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>

namespace kestra::platform {
namespace {

volatile std::sig_atomic_t interrupts = 0;

void OnInterrupt(int) {
    interrupts = interrupts + 1;
}

}  // namespace

bool IsTerminal(int fd) {
    return ::isatty(fd) == 1;
}

void WatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
}

bool TakeInterrupt() {
    if (interrupts == 0) return false;
    interrupts = 0;
    return true;
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
