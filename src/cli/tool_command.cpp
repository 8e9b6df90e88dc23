#include <iostream>

#include "app/launch.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/options.h"
#include "cli/volume_args.h"
#include "display/png_output.h"
#include "platform/system_info.h"
#include "platform/terminal.h"
#include "run/run_context.h"
#include "tools/file_tools.h"

namespace kestra::cli {
namespace {

enum class Tool { Checksum, Validate, Timing };

// The main window's lists and pictures a tool run fills, kept for the output.
struct ToolWindow {
    tools::ChecksumTables ck;
    std::vector<std::string> lstValErrs;
    bool listVisible = false;
    bool pictureVisible = true;
};

void RunTool(Tool tool, tools::ToolContext& t) {
    switch (tool) {
        case Tool::Checksum:
            tools::Timing_Checksum(t);
            break;
        case Tool::Validate:
            tools::Timing_Validate(t);
            break;
        case Tool::Timing:
            tools::TimingD(t);
            break;
    }
}

// The text area, then the list of differences below its heading.
void PrintLines(const run::RunContext& ctx, const ToolWindow& window) {
    for (const report::TextLine& line : ctx.report.Main.Text.Lines)
        std::cout << line.Text << "\n";
    for (size_t i = 1; i < window.lstValErrs.size(); ++i)
        std::cout << window.lstValErrs[i] << "\n";
}

// The file distribution as PNG, when the run drew one; a failure makes a clean
// run a disk error.
int SaveDistribution(const std::string& name, const run::RunContext& ctx, const std::string& png,
                     int status) {
    if (png.empty() || !ctx.map.ShowDistribution) return status;
    std::string why;
    if (display::SavePng(ctx.map.picMap, png, &why)) return status;
    std::cerr << "kestra-cli " << name << ": " << why << "\n";
    return status == kExitClean ? kExitDisk : status;
}

// Runs the tool on the drive with Ctrl-C as Esc (it stops at its next file),
// prints what it showed and gives its exit status.
int RunOnDrive(const std::string& name, Tool tool, VolumeArgs& volume, const std::string& folder,
               const std::string& png) {
    platform::QuietUiHost host;
    platform::SystemClock clock;
    run::RunContext ctx(volume.catalogue, host, clock);
    host.onEvents = [&ctx] {
        if (platform::TakeInterrupt()) ctx.flags.StopRequested = true;
    };
    platform::WatchInterrupts();
    ToolWindow window;
    tools::ToolContext t{volume.catalogue,
                         ctx.report,
                         ctx.map,
                         clock,
                         folder,
                         app::DriveListEntry(volume.catalogue, volume.letter),
                         window.ck,
                         window.lstValErrs,
                         window.listVisible,
                         window.pictureVisible};
    RunTool(tool, t);
    PrintLines(ctx, window);
    return SaveDistribution(name, ctx, png, app::ExitStatusOf(tools::OutcomeOf(t)));
}

int ToolMain(const std::string& name, Tool tool, std::vector<std::string> args) {
    const ParsedArgs parsed = ParseOptions(args, WithVolumeOptions({{"png", Arity::Value}}));
    VolumeArgs volume = parsed.error.empty() ? ResolveVolume(parsed) : VolumeArgs{};
    if (!parsed.error.empty()) volume.error = parsed.error;
    if (!volume.error.empty()) {
        std::cerr << "kestra-cli " << name << ": " << volume.error << "\n";
        return kExitUsage;
    }
    const std::string folder = platform::ProgramFolder();
    if (folder.empty()) {
        std::cerr << "kestra-cli " << name << ": no program folder (set KESTRA_HOME)\n";
        return kExitDisk;
    }
    return RunOnDrive(name, tool, volume, folder, parsed.Last("png"));
}

}  // namespace

int ChecksumCommand(std::vector<std::string> args) {
    return ToolMain("checksum", Tool::Checksum, std::move(args));
}

int ValidateCommand(std::vector<std::string> args) {
    return ToolMain("validate", Tool::Validate, std::move(args));
}

int TimingCommand(std::vector<std::string> args) {
    return ToolMain("timing", Tool::Timing, std::move(args));
}

}  // namespace kestra::cli
