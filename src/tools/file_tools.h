#pragma once

// The checksum, validate and read-timing tools.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "display/cluster_map.h"
#include "platform/clock.h"
#include "platform/file_system_view.h"
#include "platform/volume_catalogue.h"
#include "report/report_context.h"

namespace kestra::tools {

// Bytes read at a time: one reused buffer, whatever the file's size.
inline constexpr int64_t kChunkBytes = 204800;

// The checksum tables, shared by the checksum and validate tools and kept
// between runs. Folder 0 is the drive ("c:"); every folder's parent comes
// before it.
struct ChecksumTables {
    int64_t CkDirCount = 0;
    std::vector<std::string> CkDirName;
    std::vector<int64_t> CkDirParent;
    int64_t CkFileCount = 0;
    std::vector<std::string> CkFileName;
    std::vector<int64_t> CkFileDir;
    std::vector<int16_t> CkFileSum;
    int64_t CkBytes = 0;
    bool CkFailed = false;  // a run-time error: a red line, the run came to nothing
    bool ReadErrors = false;
    std::vector<std::string> Unreadable;  // full paths of the files that could not be read
    bool Changed = false;                 // validate found a difference or an erased file
    std::vector<uint8_t> Buffer;          // kChunkBytes, reused by every read
};

// What a tool run works with: the drive, the main window's text area, map
// and lists, and the program folder its files go to.
struct ToolContext {
    const platform::VolumeCatalogue& catalogue;
    report::ReportContext& report;
    display::ClusterMap& map;  // picMap and the distribution counts
    platform::Clock& clock;
    std::string ProgramFolder;
    std::string DriveEntry;  // the drive list's selected entry, "c: [LABEL]"
    ChecksumTables& ck;
    std::vector<std::string>& lstValErrs;
    bool& lstValErrsVisible;
    bool& imgKestVisible;
    // Looks for the drive's checksum file again and updates the menu.
    std::function<void()> Set_Checksum = [] {};
};

// The drive's files: a mapped folder of the host as it is, any other volume
// through the project's FAT reader. Empty with `error` set when it cannot be read.
platform::ViewPtr OpenDriveFiles(const platform::VolumeCatalogue& catalogue, char letter,
                                 std::string& error);

// What a tool run came to, from its state and never from its text. A stop
// by the user outranks everything else.
enum class ToolOutcome { Clean, Differences, Failed, Stopped };
ToolOutcome OutcomeOf(const ToolContext& t);

// Checksum (the "&Checksum" item).
void Timing_Checksum(ToolContext& t);
void Checksum(ToolContext& t, platform::FileSystemView& view, const std::string& path,
              int64_t index);
// False, and sum -1, when the file cannot be opened or read to its end; size 0
// when it cannot be opened.
bool ReadAndCheck(platform::FileSystemView& view, const std::string& path,
                  std::vector<uint8_t>& buffer, int16_t& sum, int64_t& size);

// The checksum file: header, folder records, file records, CR LF after each.
std::string ChecksumFileText(const ChecksumTables& ck);
// False with `error` set when the text is not in that layout.
bool ParseChecksumFile(const std::string& text, ChecksumTables& ck, std::string& error);

// Validate (the "&Validate" item). Validate returns the files whose checksum
// changed, or -1 after a run-time error.
void Timing_Validate(ToolContext& t);
int64_t Validate(ToolContext& t, platform::FileSystemView& view, int64_t& Index, int64_t& Missing);

// Read timing (the "&Scan Files" item).
void TimingD(ToolContext& t);
void SubdirectoryD(ToolContext& t, platform::FileSystemView& view, const std::string& path,
                   int64_t& SubCount, int64_t& FilCount);
int64_t ReadData(ToolContext& t, platform::FileSystemView& view, const std::string& path);

// Number formats of the summaries: "#,###" (nothing for 0), and fixed decimals.
std::string FormatThousands(int64_t n);
std::string FormatFixed(double value, int places);
// value / seconds, or 0 when no time was measured.
double PerSecond(double value, double seconds);

}  // namespace kestra::tools

namespace kestra::tools {

// Steps the three tools share.
// Hides the picture and draws the counts so far as "File distribution".
void DrawDistribution(ToolContext& t);
// Shows a count in lblCount.
void ShowCount(ToolContext& t, int64_t n);
// A path as the view takes it: the drive ("c:") left off.
std::string ViewPath(const std::string& fullPath);
// Starts a tool run: counts cleared, busy, text area cleared with the hint.
void StartTool(ToolContext& t);
// "Bytes=1,234   MB/Sec=0.50": the bytes read and their rate, as all three tools show them.
std::string BytesLine(int64_t bytes, double seconds);
// A walk failed: the red line, and the run ends without a summary.
void WalkFailed(ToolContext& t, const std::string& description);
// A red line that makes the run a failure.
void ToolError(ToolContext& t, const std::string& description);
// One folder of a walk: its files and its subfolders by name, names beginning
// with "." left out. False, the walk ended, when it cannot be listed.
bool ListFolder(ToolContext& t, platform::FileSystemView& view, const std::string& path,
                std::vector<std::string>& files, std::vector<std::string>& subfolders);

}  // namespace kestra::tools
