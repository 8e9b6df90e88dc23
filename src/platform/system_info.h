#pragma once

// Facts about the host: kernel, folders, tools.

#include <string>
#include <vector>

namespace kestra::platform {

// The kernel's release ("6.1.0-18-amd64"), or "0" when it cannot be had.
std::string OsRelease();

// $KESTRA_HOME, else ~/.local/share/kestra; created when missing. Empty when
// no folder can be had.
std::string ProgramFolder();

bool FileExists(const std::string& path);
// The path with links and "." or ".." resolved; the path as given when it cannot be.
std::string CanonicalPath(const std::string& path);
// Creates a folder and its parents; empty on success, else why not.
std::string MakeFolders(const std::string& path);

// Where the FAT repair tool is: the first executable fsck.fat on $PATH, then in
// /usr/sbin and /sbin (not on an ordinary user's PATH); "fsck.fat" when none.
std::string RepairToolPath();

// Whole removable disks and their partitions whose first sector is a FAT boot
// sector: "/dev/sdb1", "/dev/mmcblk0p1". Mounted ones are listed too: a run on
// them is refused as busy when it opens them.
std::vector<std::string> RemovableFatDevices(const std::string& sysBlock = "/sys/block",
                                             const std::string& dev = "/dev");

}  // namespace kestra::platform
