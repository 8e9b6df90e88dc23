#include "cli/dry_run.h"

#include <cstdio>

#include "cli/json_report.h"
#include "format/sector_size.h"

namespace kestra::cli {
namespace {

std::string Mb(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1fMb", bytes / 1048576.0);
    return text;
}

std::string MbPerSecond(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MB/s", bytes / 1e6);
    return text;
}

std::string Milliseconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000);
    return text;
}

double ClusterBytes(const run::RunContext& ctx) {
    return static_cast<double>(ctx.geo.SectorsPerCluster) * format::kSectorSize;
}

std::string EstimateLine(const DryRunReport& r) {
    const platform::DeviceRates& rates = r.rates;
    std::string line = "Estimated time: " + disk::DurationText(r.estimate.Total()) + " (read " +
                       MbPerSecond(rates.readBytesPerSecond);
    if (rates.writesAssumed) {
        return line + " measured; write " + MbPerSecond(rates.writeBytesPerSecond) + " and " +
               Milliseconds(rates.barrierSeconds) +
               " a barrier assumed, as nothing is written to measure them)";
    }
    line += ", write " + MbPerSecond(rates.writeBytesPerSecond);
    if (r.holeBytes != 0) line += ", into holes " + MbPerSecond(rates.fillBytesPerSecond);
    return line + ", " + Milliseconds(rates.barrierSeconds) + " a barrier, measured)";
}

}  // namespace

DryRunReport EstimateDryRun(run::RunContext& ctx, char letter, bool moved,
                            const platform::OverlaySectors& overlay, double wallSeconds) {
    DryRunReport r;
    // A run that stopped or failed part way says nothing of what a whole one would do.
    const report::RunFlags& f = ctx.flags;
    r.moved = moved && !f.RunError && !f.StopRequested && !f.CloseRequested;
    if (!r.moved) return r;
    const double processing = wallSeconds - overlay.readSeconds;
    platform::OpenResult opened = ctx.catalogue.Open(letter, platform::OpenOptions{});
    if (opened.device) {
        r.rates = platform::MeasureDeviceRates(*opened.device, ctx.catalogue.Describe(letter));
        opened.device->Close();
    }
    r.holeBytes = overlay.holeSectors * format::kSectorSize;
    r.writes = overlay.writes;
    const disk::RunTransfers io{ctx.io.BytesRead, ctx.io.BytesWritten, ctx.io.Barriers, r.holeBytes,
                                r.writes};
    r.estimate = disk::EstimateRun(io, r.rates, processing);
    return r;
}

std::vector<std::string> DryRunLines(const run::RunContext& ctx, const DryRunReport& r) {
    std::vector<std::string> lines = {"Dry run: nothing was written."};
    if (!r.moved) return lines;
    const fat::RunCounters& n = ctx.counters;
    const double cluster = ClusterBytes(ctx);
    lines.push_back("Would move: Files=" + std::to_string(n.MovedFiles) +
                    ",  Clusters=" + std::to_string(n.MovedClusters) + ",  " +
                    Mb(static_cast<double>(n.MovedClusters) * cluster) + " (lower bound " +
                    Mb(static_cast<double>(n.LowerBoundClusters) * cluster) + ")");
    lines.push_back("Would write: " + Mb(static_cast<double>(ctx.io.BytesWritten)) +
                    ",  Barriers=" + std::to_string(ctx.io.Barriers));
    lines.push_back("Would leave: Fragmented files=" +
                    std::to_string(n.FragmentedToDo + n.FragmentedFixedCount) +
                    ",  Free gaps=" + std::to_string(CurrentGaps(ctx).size()));
    lines.push_back(EstimateLine(r));
    return lines;
}

nlohmann::ordered_json EstimateJson(const DryRunReport& r) {
    const disk::RunEstimate& e = r.estimate;
    return {{"seconds", e.Total()},
            {"processingSeconds", e.processing},
            {"readingSeconds", e.reading},
            {"writingSeconds", e.writing},
            {"barrierSeconds", e.barriers},
            {"scatterSeconds", e.scattering},
            {"readBytesPerSecond", r.rates.readBytesPerSecond},
            {"writeBytesPerSecond", r.rates.writeBytesPerSecond},
            {"fillBytesPerSecond", r.rates.fillBytesPerSecond},
            {"holeBytes", r.holeBytes},
            {"secondsPerBarrier", r.rates.barrierSeconds},
            {"writes", r.writes},
            {"secondsPerWrite", r.rates.writeSeconds},
            {"writesAssumed", r.rates.writesAssumed}};
}

}  // namespace kestra::cli
