#include "platform/loop_devices.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace kestra::platform {
namespace {

// The kernel appends this to the name of a backing file deleted since.
constexpr const char* kDeleted = " (deleted)";

bool SameFile(const struct stat& a, const std::string& path) {
    struct stat b {};
    return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::string LoopDeviceBackedBy(const std::string& path, const std::string& sysBlock) {
    struct stat image {};
    if (::stat(path.c_str(), &image) != 0 || !S_ISREG(image.st_mode)) return {};
    std::error_code ec;
    for (const auto& dev : std::filesystem::directory_iterator(sysBlock, ec)) {
        const std::string name = dev.path().filename().string();
        if (name.rfind("loop", 0) != 0) continue;
        std::ifstream in(dev.path() / "loop" / "backing_file");
        std::string backing;
        if (!std::getline(in, backing) || backing.empty()) continue;
        const std::string deleted = kDeleted;
        if (backing.size() > deleted.size() &&
            backing.compare(backing.size() - deleted.size(), deleted.size(), deleted) == 0) {
            backing.resize(backing.size() - deleted.size());
        }
        if (SameFile(image, backing)) return "/dev/" + name;
    }
    return {};
}

}  // namespace kestra::platform
