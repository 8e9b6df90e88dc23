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

int ToolMain(const std::string& name, Tool tool, std::vector<std::string> args) {
    const ParsedArgs parsed = ParseOptions(args, WithVolumeOptions({{"png", Arity::Value}}));
    const std::string png = parsed.Last("png");
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

    // Ctrl-C is Esc: the tool stops at its next file.
    platform::QuietUiHost host;
    platform::SystemClock clock;
    run::RunContext ctx(volume.catalogue, host, clock);
    host.onEvents = [&ctx] {
        if (platform::TakeInterrupt()) ctx.flags.StopRequested = true;
    };
    platform::WatchInterrupts();
    tools::ChecksumTables ck;
    std::vector<std::string> lstValErrs;
    bool listVisible = false, pictureVisible = true;
    tools::ToolContext t{volume.catalogue,
                         ctx.report,
                         ctx.map,
                         clock,
                         folder,
                         app::DriveListEntry(volume.catalogue, volume.letter),
                         ck,
                         lstValErrs,
                         listVisible,
                         pictureVisible};
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

    for (const report::TextLine& line : ctx.report.Main.Text.Lines)
        std::cout << line.Text << "\n";
    for (size_t i = 1; i < lstValErrs.size(); ++i)
        std::cout << lstValErrs[i] << "\n";
    int status = kExitClean;
    switch (tools::OutcomeOf(t)) {
        case tools::ToolOutcome::Clean:
            break;
        case tools::ToolOutcome::Differences:
            status = kExitStructure;
            break;
        case tools::ToolOutcome::Failed:
            status = kExitDisk;
            break;
        case tools::ToolOutcome::Stopped:
            status = kExitUserStop;
            break;
    }
    if (!png.empty() && ctx.map.ShowDistribution) {
        std::string why;
        if (!display::SavePng(ctx.map.picMap, png, &why)) {
            std::cerr << "kestra-cli " << name << ": " << why << "\n";
            if (status == kExitClean) status = kExitDisk;
        }
    }
    return status;
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
