#pragma once

// The commands that start a run, and the drive list they act on.

#include <cstdint>
#include <functional>
#include <string>

#include "run/run_context.h"
#include "viewer/hex_view.h"

namespace kestra::app {

// The commands that start a run, as the menus set their mode flags.
enum class RunCommand { FastView, CheckedView, Defrag };
void SetRunMode(run::RunContext& ctx, RunCommand command, bool pack);

// A drive as the drive list shows it: "c: [LABEL]", or "c:" without a label.
std::string DriveListEntry(const platform::VolumeCatalogue& catalogue, char letter);

// The run window as a fresh process has it: not done, no tags, no status.
void ResetRunWindow(run::RunContext& ctx);

std::string GetFileSystemName(run::RunContext& ctx, const std::string& root);
// False when the drive could not be queried; `why` then names the volume and the cause.
bool GetFat32Space(run::RunContext& ctx, const std::string& root, uint32_t& sectorsPerCluster,
                   uint32_t& bytesPerSector, uint32_t& freeClusters, uint32_t& totalClusters,
                   std::string* why = nullptr);
// Sectors of the data area; 0 when the drive could not be queried (see `why` above).
int64_t GetVolumeSpace(run::RunContext& ctx, const std::string& root, uint32_t& sectorsPerCluster,
                       std::string* why = nullptr);
// Sizes the FAT table and takes the memory reserve; false when memory ran out.
bool Get_Mem(run::RunContext& ctx, bool unattended);

// Checks the drive's file system and launches the run on it. Returns why no run
// started, as one line naming the volume and the cause ("disk.img: No such file
// or directory"); empty when the run started or the launch ended on an error box
// of its own (out of memory).
std::string ViewMap(run::RunContext& ctx, const std::string& driveText, bool unattended = false);
std::string ViewFatMap(run::RunContext& ctx, const std::string& root, bool unattended = false);

// The sector viewer launch (Hex_): checks the drive's file system, opens the
// volume, reads the boot sector and the FAT, and hands the viewer to `show`,
// which holds it modally; afterwards the volume is closed and the viewer's
// error or the disk error is reported. Returns why no viewer opened, as
// ViewMap does.
std::string HexLaunch(run::RunContext& ctx, const std::string& driveText,
                      const std::function<void(viewer::HexView&)>& show);

}  // namespace kestra::app
