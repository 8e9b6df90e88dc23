#pragma once

// Why a volume cannot be read as FAT.

#include <cstdint>
#include <string>

#include "platform/sector_device.h"

namespace kestra::platform {

// Why a volume cannot be read as FAT: empty when it can.
struct VolumeProblem {
    std::string text;   // "not a FAT volume: it holds an ext4 file system"
    int partition = 0;  // a partition table: the partition to open instead
};

// Checks the boot sector already read into `sector0`; when it is no FAT boot
// sector at all, reads the volume's first sectors to say what it is instead.
VolumeProblem CheckVolumeStart(SectorDevice& device, const uint8_t* sector0);

// The problem as shown after the volume's name, with "use PATH@N" for a disk
// whose partition should have been named.
std::string ProblemText(const VolumeProblem& problem, const std::string& volume);

}  // namespace kestra::platform
