#pragma once

// The loop device an image file backs.

#include <string>

namespace kestra::platform {

// The loop device ("/dev/loop0") an image file backs, found by comparing the
// file's device and inode with what each loop device under `sysBlock` names as
// its backing file; empty when none does. A loop-mounted image is in use by
// the kernel's file system exactly like a mounted device.
std::string LoopDeviceBackedBy(const std::string& path, const std::string& sysBlock = "/sys/block");

}  // namespace kestra::platform
