#include <algorithm>
#include <cstdlib>

#include "analysis/analysis_context.h"
#include "display/size_chart.h"
#include "platform/system_info.h"
#include "platform/text_files.h"
#include "report/status_lines.h"
#include "tools/crc_checksum.h"
#include "tools/file_tools.h"
#include "tools/volume_records.h"

namespace kestra::tools {
namespace {

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

// Splits a record into its numbers and, when it ends in one, its quoted string
// (everything between the first and the last quote, so no name is cut short).
bool SplitRecord(const std::string& line, size_t numbers, bool quoted, std::vector<long long>& n,
                 std::string& text) {
    n.clear();
    size_t at = 0;
    for (size_t i = 0; i < numbers; ++i) {
        const size_t comma = line.find(',', at);
        const std::string item =
            line.substr(at, (comma == std::string::npos ? line.size() : comma) - at);
        if (item.empty() || item.find_first_not_of("-0123456789") != std::string::npos) {
            return false;
        }
        char* end = nullptr;
        n.push_back(std::strtoll(item.c_str(), &end, 10));
        if (*end != '\0') return false;
        const bool last = i + 1 == numbers && !quoted;
        if (last) return comma == std::string::npos;
        if (comma == std::string::npos) return false;
        at = comma + 1;
    }
    if (line.size() < at + 2 || line[at] != '"' || line.back() != '"') return false;
    text = line.substr(at + 1, line.size() - at - 2);
    return true;
}

// The volume's record folder with its "Volume" file, then the checksum file.
void WriteChecksumRecords(ToolContext& t, const RecordFiles& records) {
    std::string failed = platform::MakeFolders(records.Folder);
    if (failed.empty()) failed = platform::WriteTextFile(records.Volume, IdentityText(records.Id));
    if (failed.empty()) failed = platform::WriteTextFile(records.Checksum, ChecksumFileText(t.ck));
    if (!failed.empty()) return ToolError(t, failed);
    ChecksumTables& ck = t.ck;
    ck.CkDirName.clear();
    ck.CkDirParent.clear();
    ck.CkFileName.clear();
    ck.CkFileDir.clear();
    t.Set_Checksum();
}

}  // namespace

void Timing_Checksum(ToolContext& t) {
    ChecksumTables& ck = t.ck;
    report::ReportContext& r = t.report;
    StartTool(t);
    const std::string drive = t.DriveEntry.substr(0, 2);
    ck.CkDirName.assign(1, drive);
    ck.CkDirParent.assign(1, 0);
    ck.CkDirCount = 1;
    ck.CkFileCount = 0;
    ck.CkFileName.clear();
    ck.CkFileDir.clear();
    ck.CkFileSum.clear();

    r.Ui.SetBusyPointer(true);
    std::string why;
    double elapsed = 0;
    RecordFiles records;
    platform::ViewPtr view;
    if (FindRecordFiles(t.catalogue, t.ProgramFolder, t.DriveEntry, records, why))
        view = OpenDriveFiles(t.catalogue, drive[0], why);
    if (!view) {
        WalkFailed(t, why);
    } else {
        const double start = t.clock.SecondsSinceMidnight();
        Checksum(t, *view, drive, 0);
        elapsed = analysis::ElapsedSince(t.clock, start);
    }
    r.Ui.SetBusyPointer(false);

    if (!ck.CkFailed) {
        report::ClearText(r);
        report::ShowLine(r, "Checksum " + drive);
        report::ShowLine(r, "Files=" + std::to_string(ck.CkFileCount) +
                                "  Subdirs=" + std::to_string(ck.CkDirCount));
        report::ShowLine(r, BytesLine(ck.CkBytes, elapsed));
        report::ShowLine(
            r, "Time=" + FormatFixed(elapsed, 1) + " Secs." + " Rate=" +
                   FormatFixed(PerSecond(static_cast<double>(ck.CkFileCount), elapsed), 0) +
                   " Files/Sec");
        DrawDistribution(t);
        for (const std::string& path : ck.Unreadable)
            report::ShowLine(r, path + "  (unreadable)");
        if (r.Flags.StopRequested) {
            report::ShowLine(r, "User stop");
        } else if (!ck.Unreadable.empty()) {
            // A record with holes is no reference: the previous one stays.
            ToolError(t, std::to_string(ck.Unreadable.size()) + " Unreadable, " + records.Checksum +
                             " not written");
        } else {
            WriteChecksumRecords(t, records);
        }
    }
    report::SetUnBusy(r);
}

void Checksum(ToolContext& t, platform::FileSystemView& view, const std::string& path,
              int64_t index) {
    ChecksumTables& ck = t.ck;
    std::vector<std::string> files, subfolders;
    if (!ListFolder(t, view, path, files, subfolders)) return;
    for (const std::string& name : files) {
        report::LetEventsRun(t.report);
        if (t.report.Flags.StopRequested) return;
        const std::string full = path + "\\" + name;
        const int64_t j = ck.CkFileCount;
        ck.CkFileName.push_back(name);
        ck.CkFileDir.push_back(index);
        if (j % 100 == 0) DrawDistribution(t);
        int16_t sum = 0;
        int64_t size = 0;
        if (!ReadAndCheck(view, full, ck.Buffer, sum, size)) ck.Unreadable.push_back(full);
        ck.CkFileSum.push_back(sum);
        display::CountSize(t.map.Distribution, size);
        ck.CkBytes += size;
        ck.CkFileCount = j + 1;
        ShowCount(t, ck.CkFileCount);
    }
    const int64_t first = ck.CkDirCount;
    for (const std::string& name : subfolders) {
        ck.CkDirParent.push_back(index);
        ck.CkDirName.push_back(name);
        ++ck.CkDirCount;
    }
    for (size_t i = 0; i < subfolders.size() && !t.report.Flags.StopRequested; ++i)
        Checksum(t, view, path + "\\" + subfolders[i], first + static_cast<int64_t>(i));
}

bool ReadAndCheck(platform::FileSystemView& view, const std::string& path,
                  std::vector<uint8_t>& buffer, int16_t& sum, int64_t& size) {
    size = 0;
    sum = -1;
    std::unique_ptr<platform::FsFile> file = view.Open(ViewPath(path));
    if (!file) return false;
    size = file->Size();
    if (buffer.size() < kChunkBytes) buffer.resize(kChunkBytes);
    int32_t accumulator = 0;
    for (int64_t remaining = size; remaining > 0;) {
        // The last chunk of an odd length carries one zero byte more.
        const int64_t chunk = remaining > kChunkBytes ? kChunkBytes : remaining + (remaining & 1);
        const int64_t data = std::min(chunk, remaining);
        if (!file->Read(buffer.data(), static_cast<size_t>(data))) return false;
        if (chunk > data) buffer[static_cast<size_t>(data)] = 0;
        Get_CRC_CheckSum(buffer.data(), static_cast<int32_t>(chunk), accumulator);
        remaining -= chunk;
    }
    sum = FoldChecksum(accumulator);
    return true;
}

std::string ChecksumFileText(const ChecksumTables& ck) {
    std::string text =
        std::to_string(ck.CkDirCount) + "," + std::to_string(ck.CkFileCount) + "\r\n";
    for (int64_t k = 0; k < ck.CkDirCount; ++k) {
        const auto i = static_cast<size_t>(k);
        text += std::to_string(ck.CkDirParent[i]) + "," + Quoted(ck.CkDirName[i]) + "\r\n";
    }
    for (int64_t j = 0; j < ck.CkFileCount; ++j) {
        const auto i = static_cast<size_t>(j);
        text += std::to_string(ck.CkFileDir[i]) + "," + std::to_string(ck.CkFileSum[i]) + "," +
                Quoted(ck.CkFileName[i]) + "\r\n";
    }
    return text;
}

bool ParseChecksumFile(const std::string& text, ChecksumTables& ck, std::string& error) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        at = end + 1;
    }
    size_t at = 0;
    auto bad = [&](const char* what) {
        error = std::string(what) + " in line " + std::to_string(at + 1);
        return false;
    };
    std::vector<long long> n;
    std::string name;
    if (lines.empty() || !SplitRecord(lines[0], 2, false, n, name)) return bad("Bad header");
    const long long dirs = n[0], files = n[1];
    if (dirs < 1 || files < 0 || static_cast<size_t>(dirs + files) + 1 > lines.size()) {
        return bad("Bad record counts");
    }
    ChecksumTables read;
    read.CkDirCount = dirs;
    read.CkFileCount = files;
    for (long long k = 0; k < dirs; ++k) {
        ++at;
        // Every folder's parent comes before it, so no path can loop.
        if (!SplitRecord(lines[at], 1, true, n, name) || n[0] < 0 || (k > 0 && n[0] >= k)) {
            return bad("Bad folder record");
        }
        read.CkDirParent.push_back(n[0]);
        read.CkDirName.push_back(name);
    }
    for (long long j = 0; j < files; ++j) {
        ++at;
        if (!SplitRecord(lines[at], 2, true, n, name) || n[0] < 0 || n[0] >= dirs ||
            n[1] < -32768 || n[1] > 32767) {
            return bad("Bad file record");
        }
        read.CkFileDir.push_back(n[0]);
        read.CkFileSum.push_back(static_cast<int16_t>(n[1]));
        read.CkFileName.push_back(name);
    }
    for (++at; at < lines.size(); ++at) {
        if (!lines[at].empty()) return bad("Extra record");
    }
    read.Buffer = std::move(ck.Buffer);
    ck = std::move(read);
    return true;
}

}  // namespace kestra::tools
