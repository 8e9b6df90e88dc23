#include "platform/system_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "format/boot_sector.h"
#include "format/sector_size.h"

namespace kestra::platform {
namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The signature and the file-system type field of FAT12/16 or FAT32.
bool LooksLikeFat(const std::string& device) {
    std::ifstream in(device, std::ios::binary);
    namespace bpb = format::bpb;
    char boot[format::kSectorSize] = {};
    if (!in.read(boot, sizeof boot)) return false;
    if (static_cast<uint8_t>(boot[bpb::kSignature]) != 0x55 ||
        static_cast<uint8_t>(boot[bpb::kSignature + 1]) != 0xAA) {
        return false;
    }
    constexpr size_t kText16 = bpb::kExtendedFat16 + bpb::kExtTypeText;
    constexpr size_t kText32 = bpb::kExtendedFat32 + bpb::kExtTypeText;
    return std::memcmp(boot + kText16, "FAT", 3) == 0 || std::memcmp(boot + kText32, "FAT", 3) == 0;
}

}  // namespace

std::string OsRelease() {
    utsname name{};
    if (::uname(&name) != 0) return "0";
    return name.release;
}

std::string ProgramFolder() {
    std::string folder;
    if (const char* home = std::getenv("KESTRA_HOME"); home && *home) {
        folder = home;
    } else if (const char* user = std::getenv("HOME"); user && *user) {
        folder = std::string(user) + "/.local/share/kestra";
    } else {
        return {};
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec) ? folder : std::string();
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string RepairToolPath() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    dirs += ":/usr/sbin:/sbin";
    size_t from = 0;
    while (from <= dirs.size()) {
        const size_t to = std::min(dirs.find(':', from), dirs.size());
        const std::string dir = dirs.substr(from, to - from);
        const std::string tool = dir + "/fsck.fat";
        if (!dir.empty() && dir[0] == '/' && FileExists(tool) && ::access(tool.c_str(), X_OK) == 0)
            return tool;
        from = to + 1;
    }
    return "fsck.fat";
}

std::string CanonicalPath(const std::string& path) {
    std::error_code ec;
    const fs::path canonical = fs::canonical(path, ec);
    return ec ? path : canonical.string();
}

std::string MakeFolders(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (fs::is_directory(path, ec)) return {};
    return path + ": " + (ec ? ec.message() : std::string("not a folder"));
}

std::vector<std::string> RemovableFatDevices(const std::string& sysBlock, const std::string& dev) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& disk : fs::directory_iterator(sysBlock, ec)) {
        if (FirstLine(disk.path() / "removable") != "1") continue;
        const std::string name = disk.path().filename().string();
        std::vector<std::string> candidates{name};
        std::error_code inner;
        for (const auto& part : fs::directory_iterator(disk.path(), inner)) {
            const std::string child = part.path().filename().string();
            if (child.rfind(name, 0) == 0 && fs::exists(part.path() / "partition", inner)) {
                candidates.push_back(child);
            }
        }
        for (const std::string& c : candidates) {
            const std::string path = dev + "/" + c;
            if (LooksLikeFat(path)) found.push_back(path);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace kestra::platform
