#pragma once

#include <string>
#include <vector>

#include "platform/volume_catalogue.h"

namespace kestra::cli {

// The drive list of one invocation: every "--drive L=PATH" mapping, and the volume
// named on the command line (a mapped letter, or a path given its own letter).
struct VolumeArgs {
    platform::VolumeCatalogue catalogue;
    char letter = 0;
    std::string error;  // set when the arguments do not name a volume
};

// Takes "--drive L=PATH", "--codepage N" and "--no-write-through" out of args, then resolves the
// one remaining operand. Any other option left over, or a "PATH@N" whose N is not
// 1..4, is reported as an error.
VolumeArgs ParseVolumeArgs(std::vector<std::string>& args);

}  // namespace kestra::cli
