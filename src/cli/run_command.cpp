#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "app/launch.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "cli/dry_run.h"
#include "cli/exit_codes.h"
#include "cli/json_report.h"
#include "cli/options.h"
#include "cli/progress_line.h"
#include "cli/volume_args.h"
#include "display/png_output.h"
#include "platform/terminal.h"

namespace kestra::cli {
namespace {

// The options of a run command; check and view list files, defrag has its own.
std::vector<OptionRule> RunOptionRules(bool defrag) {
    std::vector<OptionRule> rules = {{"map", Arity::Flag},         {"json", Arity::Flag},
                                     {"progress", Arity::Flag},    {"no-progress", Arity::Flag},
                                     {"png", Arity::Value},        {"log", Arity::Value},
                                     {"truncate-log", Arity::Flag}};
    if (defrag) {
        rules.push_back({"no-pack", Arity::Flag});
        rules.push_back({"minimal", Arity::Flag});
        rules.push_back({"dry-run", Arity::Flag});
        rules.push_back({"no-review", Arity::Flag});
        rules.push_back({"only", Arity::List});
    } else {
        rules.push_back({"files", Arity::Flag});
    }
    return WithVolumeOptions(std::move(rules));
}

RunOptions TakeRunOptions(const ParsedArgs& parsed) {
    RunOptions options;
    options.map = parsed.Has("map");
    options.json = parsed.Has("json");
    options.files = parsed.Has("files");
    options.pack = !parsed.Has("no-pack");
    options.minimal = parsed.Has("minimal");
    options.review = !parsed.Has("no-review");
    options.only = parsed.All("only");
    options.png = parsed.Last("png");
    options.log = parsed.Last("log");
    options.truncateLog = parsed.Has("truncate-log");
    for (const auto& [name, value] : parsed.options) {
        if (name == "progress" || name == "no-progress") options.progress = name == "progress";
    }
    return options;
}

// What the run asked of the medium, after the status lines of a log; a
// defragmentation adds what it moved and the least any run could have moved.
std::string IoLine(const run::RunContext& ctx, bool defrag) {
    const disk::VolumeIo& io = ctx.io;
    char text[192];
    int n = std::snprintf(text, sizeof text, "I/O: Read=%.1fMb,  Written=%.1fMb,  Barriers=%llu",
                          static_cast<double>(io.BytesRead) / 1048576.0,
                          static_cast<double>(io.BytesWritten) / 1048576.0,
                          static_cast<unsigned long long>(io.Barriers));
    if (defrag && n > 0) {
        const double cluster =
            static_cast<double>(ctx.geo.SectorsPerCluster) * format::kSectorSize / 1048576.0;
        std::snprintf(text + n, sizeof text - static_cast<size_t>(n),
                      ",  Moved=%.1fMb,  Lower bound=%.1fMb",
                      static_cast<double>(ctx.counters.MovedClusters) * cluster,
                      static_cast<double>(ctx.counters.LowerBoundClusters) * cluster);
    }
    return text;
}

// The run's list of fragmented (or busy, or fixed) files after its statistics;
// with everyFile, every file the scan met instead.
void PrintFiles(const run::RunContext& ctx, bool everyFile) {
    const auto& files = everyFile ? ctx.analysis.scannedFiles : ctx.analysis.inuseFiles;
    if (files.empty()) return;
    std::cout << (everyFile ? "Files:" : "Fragmented Files:") << "\n";
    for (const analysis::ListedFile& file : files)
        std::cout << "  " << FileLine(file) << "\n";
    std::cout.flush();
}

}  // namespace

int RunVolume(const std::string& name, app::RunCommand command, const RunOptions& options,
              const VolumeArgs& volume) {
    if (!options.log.empty()) {
        const std::string why = platform::PrepareLogFile(options.log, options.truncateLog);
        if (!why.empty()) {
            std::cerr << "kestra-cli " << name << ": " << why << "\n";
            return kExitDisk;
        }
    }
    const bool terminal = platform::AnsiTerminal(1);
    CliHost host(terminal, options.map && terminal, options.json);
    platform::SystemClock clock;
    run::RunContext ctx(volume.catalogue, host, clock);
    host.Attach(&ctx);
    platform::WatchInterrupts();
    const bool errTerminal = platform::AnsiTerminal(2);
    ProgressLine progress(errTerminal);
    const bool showProgress =
        options.progress == 1 || (options.progress < 0 && errTerminal && !options.map);
    if (showProgress) host.ShowProgress(&progress);

    app::SetRunMode(ctx, command, options.pack);
    ctx.mode.ReviewAfterDefrag = options.review;
    ctx.mode.MinimalMoves = options.minimal;
    ctx.OnlyPaths = options.only;
    ctx.analysis.listEveryFile = options.files;
    // The gaps as the moves find them, for the report.
    std::optional<Gaps> gapsBefore;
    ctx.defragPack = [&, pack = ctx.defragPack](run::RunContext& c) {
        gapsBefore = CurrentGaps(c);
        progress.StartMoves(c);
        pack(c);
    };
    const auto started = std::chrono::steady_clock::now();
    const std::string refused =
        app::ViewMap(ctx, app::DriveListEntry(volume.catalogue, volume.letter));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    DryRunReport dry;
    if (options.dryRun && refused.empty()) {
        dry = EstimateDryRun(ctx, volume.letter, gapsBefore.has_value(), *options.dryRun, wall);
    }
    if (showProgress) {
        // In a file the totals end the progress lines; a terminal just loses the line.
        if (!errTerminal) progress.Update(ctx, true);
        progress.Clear();
    }
    if (refused.empty()) {
        host.Refresh(options.map);
        if (!options.json && !ctx.flags.RunError) PrintFiles(ctx, options.files);
        if (!options.json && options.dryRun) {
            for (const std::string& line : DryRunLines(ctx, dry))
                std::cout << line << "\n";
            std::cout.flush();
        }
    } else {
        // One line says it all; the status lines of the launch would only repeat it.
        std::cerr << "kestra-cli " << name << ": " << refused << "\n";
    }

    int status = app::ExitStatusFor(ctx);
    if (!options.only.empty() && status == kExitClean && ctx.OnlyNotWhole != 0)
        status = kExitNotWhole;
    if (!options.png.empty() && ctx.map.UpperBound() > 0) {
        ctx.map.RepaintMap(ctx.Legend());
        std::string why;
        if (!display::SavePng(ctx.map.picMap, options.png, &why)) {
            std::cerr << "kestra-cli " << name << ": " << why << "\n";
            if (status == kExitClean) status = kExitDisk;
        }
    }
    if (!options.log.empty() && !ctx.report.Main.LogText.empty()) {
        // A dry run's lines read like a real run's; the log says which it was.
        const std::string dry = options.dryRun ? "\r\nDry run: nothing was written." : "";
        const std::string why =
            platform::AppendTextFile(options.log,
                                     ctx.report.Main.LogText + dry + "\r\n" +
                                         IoLine(ctx, command == app::RunCommand::Defrag),
                                     /*create=*/false);
        if (!why.empty()) {
            std::cerr << "kestra-cli " << name << ": " << why << "\n";
            if (status == kExitClean) status = kExitDisk;
        }
    }
    if (options.json) {
        nlohmann::ordered_json j =
            RunJson(name, ctx, gapsBefore, options.files, host.boxText, status);
        if (options.dryRun) {
            j["dryRun"] = true;
            if (dry.moved) j["estimate"] = EstimateJson(dry);
        }
        std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
    }
    return status;
}

int RunCommandMain(const std::string& name, app::RunCommand command,
                   std::vector<std::string> args) {
    ParsedArgs parsed = ParseOptions(args, RunOptionRules(command == app::RunCommand::Defrag));
    if (!parsed.error.empty()) {
        std::cerr << "kestra-cli " << name << ": " << parsed.error << "\n";
        return kExitUsage;
    }
    RunOptions options = TakeRunOptions(parsed);
    const bool dryRun = parsed.Has("dry-run");
    // The plan packs the whole volume; it has nothing to say about one left unpacked
    // or about a few named files.
    if (options.minimal && (!options.pack || !parsed.All("only").empty())) {
        std::cerr << "kestra-cli " << name << ": --minimal packs the whole volume; it cannot "
                  << "go with " << (options.pack ? "--only" : "--no-pack") << "\n";
        return kExitUsage;
    }
    // "defrag --only A B card.img": the volume may close the list of paths.
    if (parsed.operands.empty() && options.only.size() >= 2) {
        parsed.operands.push_back(options.only.back());
        options.only.pop_back();
    }
    VolumeArgs volume = ResolveVolume(parsed);
    if (!volume.error.empty()) {
        std::cerr << "kestra-cli " << name << ": " << volume.error << "\n";
        return kExitUsage;
    }
    if (dryRun) {
        options.dryRun = std::make_shared<platform::OverlaySectors>();
        volume.catalogue.Overlay(volume.letter, options.dryRun);
    }
    return RunVolume(name, command, options, volume);
}

int ViewCommand(std::vector<std::string> args) {
    return RunCommandMain("view", app::RunCommand::FastView, std::move(args));
}

int CheckCommand(std::vector<std::string> args) {
    return RunCommandMain("check", app::RunCommand::CheckedView, std::move(args));
}

int DefragCommand(std::vector<std::string> args) {
    return RunCommandMain("defrag", app::RunCommand::Defrag, std::move(args));
}

}  // namespace kestra::cli
