#include "cli/json_report.h"

#include "fat/free_gaps.h"
#include "format/sector_size.h"
#include "report/error_boxes.h"
#include "report/report_context.h"

namespace kestra::cli {
namespace {

using nlohmann::ordered_json;

ordered_json FileJson(const analysis::ListedFile& file) {
    ordered_json runs = ordered_json::array();
    for (const auto& [start, length] : file.Runs)
        runs.push_back({start, length});
    ordered_json j = {{"path", file.Path},
                      {"size", file.Size},
                      {"fragments", file.Runs.size()},
                      {"runs", std::move(runs)}};
    j["mark"] = file.Mark.empty() ? ordered_json(nullptr) : ordered_json(file.Mark);
    return j;
}

ordered_json FilesJson(const std::vector<analysis::ListedFile>& files, bool fragmentedOnly) {
    ordered_json list = ordered_json::array();
    for (const analysis::ListedFile& file : files) {
        if (!fragmentedOnly || file.Runs.size() > 1) list.push_back(FileJson(file));
    }
    return list;
}

ordered_json GapsJson(const Gaps& gaps) {
    ordered_json list = ordered_json::array();
    for (const auto& [start, length] : gaps)
        list.push_back({start, length});
    return list;
}

}  // namespace

const char* TypeName(format::FatType type) {
    switch (type) {
        case format::FatType::Fat12:
            return "FAT12";
        case format::FatType::Fat16:
            return "FAT16";
        case format::FatType::Fat32:
            return "FAT32";
        default:
            return "unknown";
    }
}

nlohmann::ordered_json GeometryJson(const disk::Geometry& geo) {
    return {{"drive", geo.DriveText},
            {"fileSystem", geo.FileSystemName},
            {"type", TypeName(geo.Type)},
            {"sectorsPerCluster", geo.SectorsPerCluster},
            {"clusterBytes", geo.SectorsPerCluster * format::kSectorSize},
            {"clusters", geo.ClusterCount},
            {"dataSectors", geo.DataSectors},
            {"fatSectors", geo.FatSectors},
            {"rootCluster", geo.RootCluster}};
}

Gaps CurrentGaps(const run::RunContext& ctx) {
    const fat::VolumeModel& m = ctx.model;
    Gaps gaps;
    for (uint32_t i = 1; i <= m.GapCount && i < m.GapLen.size(); ++i)
        gaps.emplace_back(m.GapStart[i], m.GapLen[i]);
    return gaps;
}

std::string FileLine(const analysis::ListedFile& file) {
    std::string line = file.Path + " (" + disk::FormatSectors(file.Size / format::kSectorSize) +
                       ", " + std::to_string(file.Runs.size()) +
                       (file.Runs.size() == 1 ? " fragment" : " fragments");
    if (!file.Mark.empty()) line += ", " + file.Mark;
    return line + ")";
}

ordered_json RunJson(const std::string& command, run::RunContext& ctx,
                     const std::optional<Gaps>& gapsBefore, bool everyFile,
                     const std::string& boxText, int exitStatus) {
    const disk::Geometry& geo = ctx.geo;
    const fat::RunCounters& n = ctx.counters;
    const report::RunFlags& f = ctx.flags;
    const bool ran = ctx.mode.RunPass > 0 && geo.ClusterCount > 0;
    const bool scanned = ran && ctx.mode.CheckStructure;
    const bool defrag = ctx.mode.DefragMode >= 0 || command == "defrag";

    ordered_json j;
    j["command"] = command;
    j["exitStatus"] = exitStatus;
    if (geo.ClusterCount > 0) {
        j["geometry"] = GeometryJson(geo);
    }
    if (ran) {
        ordered_json c = {{"chains", n.ChainCount}};
        if (scanned) {
            c["files"] = n.PlainFileCount;
            c["folders"] = n.FolderCount;
            c["emptyFiles"] = n.EmptyFileCount;
            c["erasedEntries"] = n.ErasedEntryCount;
            c["fragmentedFiles"] = n.FragmentedCount;
            c["filesInUse"] = ctx.mode.FixedFileCount;
        }
        j["counters"] = std::move(c);
        const Gaps after = CurrentGaps(ctx);
        const uint64_t free = fat::FreeSpaceSectors(ctx.run);
        const uint64_t large = fat::LargeFreeSectors(ctx.run);
        j["freeSpace"] = {{"clusters", geo.SectorsPerCluster ? free / geo.SectorsPerCluster : 0},
                          {"bytes", free * format::kSectorSize},
                          {"smallBytes", (free - large) * format::kSectorSize},
                          {"largeBytes", large * format::kSectorSize}};
        j["gapsBefore"] = GapsJson(gapsBefore ? *gapsBefore : after);
        j["gapsAfter"] = GapsJson(after);
        j["fragmentedFiles"] = FilesJson(ctx.analysis.inuseFiles, false);
        if (defrag) {
            j["fragmentedBefore"] = FilesJson(ctx.analysis.scannedFiles, true);
            const uint64_t cluster = uint64_t{geo.SectorsPerCluster} * format::kSectorSize;
            j["moves"] = {{"files", n.MovedFiles},
                          {"clusters", n.MovedClusters},
                          {"bytes", n.MovedClusters * cluster},
                          {"lowerBoundClusters", n.LowerBoundClusters},
                          {"lowerBoundBytes", n.LowerBoundClusters * cluster}};
            j["io"] = {{"bytesRead", ctx.io.BytesRead},
                       {"bytesWritten", ctx.io.BytesWritten},
                       {"barriers", ctx.io.Barriers}};
        }
        if (everyFile) j["files"] = FilesJson(ctx.analysis.scannedFiles, false);
    }

    ordered_json lines = ordered_json::array();
    ordered_json errorLines = ordered_json::array();
    for (const report::TextLine& line : ctx.report.Main.Text.Lines) {
        lines.push_back(line.Text);
        if (line.Colour == report::kTextLightRed) errorLines.push_back(line.Text);
    }
    // The error check clears the flag whose box it showed.
    const report::ErrorBox box = ctx.report.Main.LastBox;
    j["errors"] = {{"structure", f.StructureErrorFlag || box == report::ErrorBox::Structure},
                   {"disk", f.DiskErrorFlag || box == report::ErrorBox::Disk},
                   {"busy", f.DriveBusyFlag || box == report::ErrorBox::Busy},
                   {"internal", f.InternalErrorFlag || box == report::ErrorBox::Internal},
                   {"noMemory", f.NoMemoryFlag || box == report::ErrorBox::NoMemory},
                   {"stopped", f.CloseRequested || f.StopRequested},
                   {"text", f.ErrText},
                   {"source", f.ErrSource},
                   {"lines", std::move(errorLines)},
                   {"box", boxText}};
    j["statusLines"] = std::move(lines);
    return j;
}

}  // namespace kestra::cli
