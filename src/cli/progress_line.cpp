#include "cli/progress_line.h"

#include <cstdio>
#include <iostream>

namespace kestra::cli {
namespace {

std::string Duration(double seconds) {
    const auto s = static_cast<unsigned long long>(seconds + 0.5);
    char text[48];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%lluh%02llum", s / 3600, s / 60 % 60);
    } else if (s >= 60) {
        std::snprintf(text, sizeof text, "%llum%02llus", s / 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%llus", s);
    }
    return text;
}

}  // namespace

void ProgressLine::StartMoves(const run::RunContext& ctx) {
    uint64_t clusters = 0;
    for (const analysis::ListedFile& file : ctx.analysis.scannedFiles) {
        if (file.Runs.size() < 2) continue;
        for (const auto& [start, length] : file.Runs)
            clusters += length;
    }
    const fat::VolumeModel& m = ctx.model;
    if (ctx.mode.DefragMode > 0 && m.GapCount > 0) {
        for (uint32_t c = m.GapStart[1]; c <= ctx.counters.LastCluster && c < m.Fat.size(); ++c)
            clusters += (m.Fat[c] & fat::kFatMask) != 0;
    }
    estimate_ = clusters == 0 ? 1 : clusters;
    movesStart_ = std::chrono::steady_clock::now();
}

void ProgressLine::Update(const run::RunContext& ctx, bool final) {
    const auto now = std::chrono::steady_clock::now();
    if (!final && now - lastDraw_ < std::chrono::milliseconds(200)) return;
    std::string phase = ctx.report.RunWindow.Tags.TagText1;
    if (!phase.empty() && phase.back() == ':') phase.pop_back();
    if (phase.empty()) return;
    lastDraw_ = now;
    const fat::RunCounters& n = ctx.counters;
    char text[160];
    if (estimate_ == 0) {
        std::snprintf(text, sizeof text, "%s: %u files, %u folders", phase.c_str(),
                      n.PlainFileCount, n.FolderCount);
    } else {
        const double mb = static_cast<double>(n.MovedClusters) * ctx.geo.SectorsPerCluster / 2048.0;
        const double elapsed = std::chrono::duration<double>(now - movesStart_).count();
        std::string left = final ? "done" : "about ? left";
        if (!final && n.MovedClusters > 0 && n.MovedClusters < estimate_) {
            left = "about " +
                   Duration(elapsed * static_cast<double>(estimate_ - n.MovedClusters) /
                            static_cast<double>(n.MovedClusters)) +
                   " left";
        }
        std::snprintf(text, sizeof text, "%s: %u files, %.1f MB moved, %s", phase.c_str(),
                      n.MovedFiles, mb, left.c_str());
    }
    std::string line = text;
    // Padded over whatever the last line left, as a file cannot erase it.
    const size_t width = line.size();
    if (width < width_) line.append(width_ - width, ' ');
    width_ = width;
    std::cerr << '\r' << line << std::flush;
    shown_ = true;
}

void ProgressLine::Clear() {
    if (!shown_) return;
    if (terminal_) {
        std::cerr << "\r\x1b[K" << std::flush;
    } else {
        std::cerr << "\n" << std::flush;
    }
    shown_ = false;
    width_ = 0;
}

}  // namespace kestra::cli
