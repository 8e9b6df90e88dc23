#pragma once

// The in-use mark of a writing run.

#include "fat/fat_run.h"

namespace kestra::engine {

// A writing run marks the volume as in use before its first write reaches the
// medium, as every FAT driver does while it holds a volume: the boot sector's
// dirty flag where the boot record has one, and the clean-shutdown bit of
// FAT entry 1 cleared (FAT16, FAT32). The mark is cleared as the run's last
// write when it releases the volume, so a run cut short leaves it standing and
// the next run, an operating system and fsck.fat all see the interruption.
// Nothing is written until the run writes.
void ArmInUseMark(fat::FatRun& run);

// True when the boot sector of this type has a state byte (an extended boot
// record); its offset then goes to `at`.
bool BootStateByte(const fat::FatRun& run, size_t& at);

}  // namespace kestra::engine
