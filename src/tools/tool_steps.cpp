#include <cmath>
#include <cstdio>

#include "analysis/fat_file_view.h"
#include "display/size_chart.h"
#include "platform/escaped_names.h"
#include "report/status_lines.h"
#include "tools/file_tools.h"

namespace kestra::tools {

platform::ViewPtr OpenDriveFiles(const platform::VolumeCatalogue& catalogue, char letter,
                                 std::string& error) {
    const std::string volume = catalogue.Describe(letter);
    if (!volume.empty() && platform::IsDirectory(volume)) return platform::HostFolderView(volume);
    platform::OpenResult opened = catalogue.Open(letter, platform::OpenOptions{});
    if (!opened.device) {
        error = opened.message;
        return nullptr;
    }
    std::string path;
    int partition = 0;
    platform::SplitVolumePath(volume, path, partition);
    platform::ViewPtr view =
        analysis::FatFileView(std::move(opened.device), error, {volume, path, catalogue.codePage});
    if (!view) error = volume + ": " + error;
    return view;
}

ToolOutcome OutcomeOf(const ToolContext& t) {
    const ChecksumTables& ck = t.ck;
    // A failed walk stops every level as a stop would; it is no stop by the user.
    if (t.report.Flags.StopRequested && !ck.CkFailed) return ToolOutcome::Stopped;
    if (ck.CkFailed || ck.ReadErrors || !ck.Unreadable.empty()) return ToolOutcome::Failed;
    return ck.Changed ? ToolOutcome::Differences : ToolOutcome::Clean;
}

std::string FormatThousands(int64_t n) {
    if (n == 0) return {};
    const std::string digits = std::to_string(n < 0 ? -n : n);
    std::string text = n < 0 ? "-" : "";
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

std::string FormatFixed(double value, int places) {
    char text[64];
    // Halves round away from zero, as the summaries always rounded.
    const double scale = std::pow(10.0, places);
    std::snprintf(text, sizeof text, "%.*f", places, std::round(value * scale) / scale);
    return text;
}

double PerSecond(double value, double seconds) {
    return seconds > 0 ? value / seconds : 0;
}

void DrawDistribution(ToolContext& t) {
    t.imgKestVisible = false;
    display::DrawHistogram(t.map.picMap, "File distribution", t.map.Distribution);
    t.map.ShowDistribution = true;
}

void ShowCount(ToolContext& t, int64_t n) {
    t.report.Main.Text.lblCount = std::to_string(n);
}

std::string ViewPath(const std::string& fullPath) {
    return fullPath.size() > 2 ? fullPath.substr(2) : std::string();
}

void StartTool(ToolContext& t) {
    t.map.Distribution.fill(0);
    t.ck.CkBytes = 0;
    t.ck.CkFailed = t.ck.ReadErrors = t.ck.Changed = false;
    t.ck.Unreadable.clear();
    t.ck.Buffer.resize(kChunkBytes);
    report::SetBusy(t.report);
    report::ClearText(t.report);
    report::ShowCancelHint(t.report);
}

std::string BytesLine(int64_t bytes, double seconds) {
    return "Bytes=" + FormatThousands(bytes) +
           "   MB/Sec=" + FormatFixed(PerSecond(static_cast<double>(bytes) / 1024000, seconds), 2);
}

void WalkFailed(ToolContext& t, const std::string& description) {
    ToolError(t, description);
    t.report.Flags.StopRequested = true;
}

void ToolError(ToolContext& t, const std::string& description) {
    report::ShowError(t.report, description);
    t.ck.CkFailed = true;
}

bool ListFolder(ToolContext& t, platform::FileSystemView& view, const std::string& path,
                std::vector<std::string>& files, std::vector<std::string>& subfolders) {
    std::vector<platform::FsEntry> entries;
    std::string error;
    if (!view.List(ViewPath(path), entries, error)) {
        WalkFailed(t, error);
        return false;
    }
    // Names go on escaped: paths, lists and records hold them so.
    for (const platform::FsEntry& e : entries) {
        if (e.Name.empty() || e.Name[0] == '.') continue;
        ((e.Attr & format::kAttrDirectory) ? subfolders : files)
            .push_back(platform::EscapeName(e.Name));
    }
    return true;
}

}  // namespace kestra::tools
