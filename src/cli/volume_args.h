#pragma once

// The drive list and the volume named on the command line.

#include <string>
#include <vector>

#include "cli/options.h"
#include "platform/volume_catalogue.h"

namespace kestra::cli {

// The drive list of one invocation: every "--drive L=PATH" mapping, and the volume
// named on the command line (a mapped letter, or a path given its own letter).
struct VolumeArgs {
    platform::VolumeCatalogue catalogue;
    char letter = 0;
    std::string error;  // set when the arguments do not name a volume
};

// Applies "--drive L=PATH", "--codepage N" and "--no-write-through", then resolves the
// one operand. A "PATH@N" whose N is not 1..4 is an error, and so is a bare letter
// that is both a mapped drive and a file here: "c:" or "./c" says which is meant.
VolumeArgs ResolveVolume(const ParsedArgs& parsed);

}  // namespace kestra::cli
