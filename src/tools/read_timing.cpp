#include "analysis/analysis_context.h"
#include "display/size_chart.h"
#include "report/status_lines.h"
#include "tools/file_tools.h"

namespace kestra::tools {

void TimingD(ToolContext& t) {
    ChecksumTables& ck = t.ck;
    report::ReportContext& r = t.report;
    StartTool(t);
    const std::string drive = t.DriveEntry.substr(0, 2);
    r.Ui.SetBusyPointer(true);
    ck.ReadErrors = false;
    ck.CkFailed = false;
    int64_t folders = 0, files = 0;
    double elapsed = 0;
    std::string why;
    platform::ViewPtr view = OpenDriveFiles(t.catalogue, drive[0], why);
    if (!view) {
        report::ShowError(r, why);
        ck.CkFailed = true;
    } else {
        // The drive is timed, not the memory that still holds its pages.
        view->DropCachedPages();
        const double start = t.clock.SecondsSinceMidnight();
        SubdirectoryD(t, *view, drive, folders, files);
        elapsed = analysis::ElapsedSince(t.clock, start);
    }
    r.Ui.SetBusyPointer(false);

    if (!ck.ReadErrors && !ck.CkFailed) {
        report::ClearText(r);
        report::ShowLine(r, "Timing");
        if (r.Flags.StopRequested) report::ShowLine(r, "User stop");
        report::ShowLine(r, "Drive=" + t.DriveEntry);
        report::ShowLine(r,
                         "Files=" + std::to_string(files) + " Subdirs=" + std::to_string(folders));
        report::ShowLine(r, BytesLine(ck.CkBytes, elapsed));
        report::ShowLine(r, "Time=" + FormatFixed(elapsed, 1) + " Secs." + "   Rate=" +
                                FormatFixed(PerSecond(static_cast<double>(files), elapsed), 0) +
                                " Files/Sec.");
        DrawDistribution(t);
    }
    report::SetUnBusy(r);
}

void SubdirectoryD(ToolContext& t, platform::FileSystemView& view, const std::string& path,
                   int64_t& SubCount, int64_t& FilCount) {
    std::vector<std::string> files, subfolders;
    if (!ListFolder(t, view, path, files, subfolders)) return;
    for (const std::string& name : files) {
        report::LetEventsRun(t.report);
        if (t.report.Flags.StopRequested) return;
        const std::string full = path + "\\" + name;
        if (FilCount % 100 == 0) DrawDistribution(t);
        ++FilCount;
        ShowCount(t, FilCount);
        display::CountSize(t.map.Distribution, ReadData(t, view, full));
    }
    ++SubCount;
    for (const std::string& sub : subfolders) {
        if (t.report.Flags.StopRequested) return;
        SubdirectoryD(t, view, path + "\\" + sub, SubCount, FilCount);
    }
}

int64_t ReadData(ToolContext& t, platform::FileSystemView& view, const std::string& path) {
    std::unique_ptr<platform::FsFile> file = view.Open(ViewPath(path));
    if (!file) {
        report::ShowLine(t.report, "Errors: " + path);
        t.ck.ReadErrors = true;
        return 0;
    }
    const int64_t size = file->Size();
    t.ck.CkBytes += size;
    std::vector<uint8_t>& buffer = t.ck.Buffer;
    if (buffer.size() < kChunkBytes) buffer.resize(kChunkBytes);
    for (int64_t remaining = size; remaining > 0; remaining -= kChunkBytes) {
        // A failed read ends this file without a message; its size stays counted.
        const int64_t chunk = std::min(remaining, kChunkBytes);
        if (!file->Read(buffer.data(), static_cast<size_t>(chunk))) break;
    }
    return size;
}

}  // namespace kestra::tools
