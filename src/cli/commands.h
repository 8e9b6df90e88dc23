#pragma once

// The commands of kestra-cli.

#include <memory>
#include <string>
#include <vector>

#include "app/launch.h"
#include "cli/volume_args.h"
#include "platform/overlay_device.h"

namespace kestra::cli {

// What every run command may be asked besides its volume.
struct RunOptions {
    bool map = false;
    bool pack = true;
    bool minimal = false;  // defrag: the least-movement plan instead of the passes
    bool review = true;
    bool files = false;  // list every file, not only the fragmented ones
    bool json = false;
    int progress = -1;              // -1: on a terminal without --map
    std::vector<std::string> only;  // defrag: just these files and folders
    std::string png;
    std::string log;
    bool truncateLog = false;  // start the log afresh instead of appending to it
    // defrag --dry-run: the volume is opened through this overlay; nothing reaches it.
    std::shared_ptr<platform::OverlaySectors> dryRun;
};

// One run on one volume, as the terminal shows it; returns the exit status.
int RunVolume(const std::string& name, app::RunCommand command, const RunOptions& options,
              const VolumeArgs& volume);

int InfoCommand(std::vector<std::string> args);
int ViewCommand(std::vector<std::string> args);
int CheckCommand(std::vector<std::string> args);
int DefragCommand(std::vector<std::string> args);
int DemoCommand(std::vector<std::string> args);
int HexCommand(std::vector<std::string> args);
int ChecksumCommand(std::vector<std::string> args);
int ValidateCommand(std::vector<std::string> args);
int TimingCommand(std::vector<std::string> args);

}  // namespace kestra::cli
