#include "analysis/analysis_context.h"
#include "display/size_chart.h"
#include "platform/terminal.h"
#include "platform/text_files.h"
#include "report/status_lines.h"
#include "tools/file_tools.h"
#include "tools/volume_records.h"

namespace kestra::tools {
namespace {

// A line in the text area that is not part of LogText.
void PrintDirect(report::ReportContext& r, const std::string& text) {
    report::TextArea& area = r.Main.Text;
    area.Lines.push_back({text, area.ForeColor, area.CurrentY});
    area.CurrentY += area.LineHeight;
}

// The drive's checksum file, refused when its folder's "Volume" file names
// another volume (records copied or moved by hand).
bool LoadRecords(const RecordFiles& records, ChecksumTables& ck, std::string& error) {
    std::string text, volume;
    VolumeIdentity owner;
    if (!platform::ReadTextFile(records.Checksum, text, error)) return false;
    if (!platform::ReadTextFile(records.Volume, volume, error) || !ParseIdentity(volume, owner)) {
        error = "No volume record beside " + records.Checksum + ": run checksum again";
        return false;
    }
    if (!(owner == records.Id)) {
        error = records.Checksum + " belongs to another volume (" + owner.Path + "), not to " +
                records.Id.Path;
        return false;
    }
    if (!ParseChecksumFile(text, ck, error)) {
        error = "Bad checksum file " + records.Checksum + ": " + error;
        return false;
    }
    return true;
}

// The changed checksums into the checksum file, unless a file could not be
// read; the list, whatever it holds, appended to the check log.
void StoreResults(ToolContext& t, const RecordFiles& records, bool differences) {
    report::ReportContext& r = t.report;
    const std::string& path = records.Checksum;
    r.Ui.SetBusyPointer(true);
    if (differences && !t.ck.Unreadable.empty()) {
        report::ShowLine(r, path + " not updated");
    } else if (differences) {
        PrintDirect(r, path + " updated");
        const std::string failed = platform::WriteTextFile(path, ChecksumFileText(t.ck));
        if (!failed.empty()) ToolError(t, failed);
    }
    report::ShowLine(r, "See: " + records.CheckLog);
    std::string lines;
    for (const std::string& line : t.lstValErrs)
        lines += (lines.empty() ? "" : "\r\n") + line;
    const std::string failed = platform::AppendTextFile(records.CheckLog, lines, /*create=*/false);
    if (!failed.empty()) ToolError(t, failed);
    r.Ui.SetBusyPointer(false);
}

}  // namespace

void Timing_Validate(ToolContext& t) {
    ChecksumTables& ck = t.ck;
    report::ReportContext& r = t.report;
    StartTool(t);
    t.map.picMap.Clear();
    t.lstValErrs.clear();

    const std::string drive = t.DriveEntry.substr(0, 2);
    RecordFiles records;
    std::string error;
    platform::ViewPtr view;
    if (FindRecordFiles(t.catalogue, t.ProgramFolder, t.DriveEntry, records, error) &&
        LoadRecords(records, ck, error)) {
        view = OpenDriveFiles(t.catalogue, drive[0], error);
    }
    if (!view) {
        // Nothing is compared and nothing written.
        ToolError(t, error);
        report::SetUnBusy(r);
        return;
    }
    const std::string& path = records.Checksum;
    report::LetEventsRun(r);
    t.lstValErrs.push_back("-- Checksum=" + drive + " " + platform::ModifiedText(path) + " --");

    report::LetEventsRun(r);
    ck.CkBytes = 0;
    r.Ui.SetBusyPointer(true);
    const double start = t.clock.SecondsSinceMidnight();
    int64_t files = 0, erased = 0;
    const int64_t differences = Validate(t, *view, files, erased);
    const double elapsed = analysis::ElapsedSince(t.clock, start);
    r.Ui.SetBusyPointer(false);

    report::ClearText(r);
    report::ShowLine(r, "Validate");
    report::ShowLine(r, "Drive=" + t.DriveEntry + "  Files=" + std::to_string(files));
    report::ShowLine(r, BytesLine(ck.CkBytes, elapsed));
    report::ShowLine(r, "Time=" + FormatFixed(elapsed, 1) + " Secs" + " Rate=" +
                            FormatFixed(PerSecond(static_cast<double>(files), elapsed), 0) +
                            " Files/Sec");
    report::ShowLine(r, differences == 0 ? std::string("No Differences")
                                         : std::to_string(differences) + " Differences");
    if (erased != 0) report::ShowLine(r, std::to_string(erased) + " Erased");
    // A read error says nothing about the file: its stored checksum stays, and
    // with it every other, so the next run still compares against the reference.
    const bool unreadable = !ck.Unreadable.empty();
    if (unreadable) ToolError(t, std::to_string(ck.Unreadable.size()) + " Unreadable");
    ck.Changed = differences + erased != 0;
    if (r.Flags.StopRequested) {
        report::ShowLine(r, "User stop");
    } else if (differences + erased != 0 || unreadable) {
        StoreResults(t, records, differences != 0);
    }
    ck.CkFileCount = files;
    DrawDistribution(t);
    report::SetUnBusy(r);
}

int64_t Validate(ToolContext& t, platform::FileSystemView& view, int64_t& Index, int64_t& Missing) {
    ChecksumTables& ck = t.ck;
    Missing = 0;
    int64_t differences = 0;
    int64_t j = 0;
    for (; j < ck.CkFileCount; ++j) {
        report::LetEventsRun(t.report);
        if (t.report.Flags.StopRequested) break;
        ShowCount(t, j);
        const auto at = static_cast<size_t>(j);
        std::string path = ck.CkFileName[at];
        for (int64_t d = ck.CkFileDir[at];; d = ck.CkDirParent[static_cast<size_t>(d)]) {
            path = ck.CkDirName[static_cast<size_t>(d)] + "\\" + path;
            if (d == 0) break;
        }
        platform::FsEntry found;
        const platform::Found there = view.Stat(ViewPath(path), found);
        if (there == platform::Found::No || (found.Attr & format::kAttrDirectory)) {
            t.lstValErrsVisible = true;
            ++Missing;
            t.lstValErrs.push_back(path + "  (erased)");
            continue;
        }
        if (j % 100 == 0) DrawDistribution(t);
        int16_t sum = 0;
        int64_t size = 0;
        if (there == platform::Found::Unreadable ||
            !ReadAndCheck(view, path, ck.Buffer, sum, size)) {
            t.lstValErrsVisible = true;
            ck.Unreadable.push_back(path);
            t.lstValErrs.push_back(path + "  (unreadable)");
            continue;
        }
        ck.CkBytes += size;
        display::CountSize(t.map.Distribution, size);
        if (sum != ck.CkFileSum[at]) {
            ck.CkFileSum[at] = sum;
            ++differences;
            t.lstValErrsVisible = true;
            t.lstValErrs.push_back(path);
            report::LetEventsRun(t.report);
        }
    }
    Index = j;
    return differences;
}

}  // namespace kestra::tools
