#include "app/launch.h"

#include <cstdio>
#include <new>

#include "fat/fat_table.h"
#include "format/boot_sector.h"
#include "report/error_boxes.h"
#include "report/status_lines.h"
#include "run/run_driver.h"

namespace kestra::app {
namespace {

char LetterOf(const std::string& root) {
    return root.empty() ? '@' : root[0];
}

// The file-system name a query found, without the NUL the old interface kept.
std::string FileSystemNameOf(const platform::QueryResult& query) {
    std::string name = query.ok ? query.info.fileSystemName : std::string();
    if (!name.empty() && name.back() == '\0') name.pop_back();
    return name;
}

const char* CaptionOf(RunCommand command) {
    switch (command) {
        case RunCommand::FastView:
            return "&Fast View";
        case RunCommand::CheckedView:
            return "&Checked View";
        default:
            return "&Defrag";
    }
}

std::string WithoutFirstAmpersand(std::string caption) {
    const size_t at = caption.find('&');
    if (at != std::string::npos) caption.erase(at, 1);
    return caption;
}

// Another program holding the volume makes the drive busy; every failed open
// leaves a line that names the volume and the cause.
void OpenFailed(run::RunContext& ctx, platform::OpenError kind, const std::string& why) {
    report::ShowError(ctx.report, why);
    if (kind == platform::OpenError::Busy) ctx.flags.DriveBusyFlag = true;
}

// A launch starts with no box shown, and the busy box names its volume.
void BeginLaunch(run::RunContext& ctx, const std::string& root) {
    const std::string volume = ctx.catalogue.Describe(LetterOf(root));
    ctx.report.Main.Volume = root.substr(0, 2) + (volume.empty() ? "" : " (" + volume + ")");
    ctx.report.Main.LastBox = report::ErrorBox::None;
}

}  // namespace

void ResetRunWindow(run::RunContext& ctx) {
    report::RunWindowState& w = ctx.report.RunWindow;
    ctx.RunDone = false;
    w.RunDone = false;
    w.Tags = {};
    w.Line1 = {};
    w.Line2 = {};
    w.Surface.Clear();
    ctx.Caption = ctx.RunCaption;
}

void SetRunMode(run::RunContext& ctx, RunCommand command, bool pack) {
    ctx.mode.CheckStructure = command != RunCommand::FastView;
    ctx.mode.DefragMode = command == RunCommand::Defrag ? (pack ? 3 : 0) : -1;
}

std::string DriveListEntry(const platform::VolumeCatalogue& catalogue, char letter) {
    std::string entry(1, static_cast<char>(std::tolower(static_cast<unsigned char>(letter))));
    entry += ":";
    const platform::QueryResult query = catalogue.Query(letter);
    if (query.ok && !query.info.label.empty()) entry += " [" + query.info.label + "]";
    return entry;
}

std::string GetFileSystemName(run::RunContext& ctx, const std::string& root) {
    const platform::QueryResult query = ctx.catalogue.Query(LetterOf(root));
    return query.ok ? query.info.fileSystemName : std::string();
}

bool GetFat32Space(run::RunContext& ctx, const std::string& root, uint32_t& sectorsPerCluster,
                   uint32_t& bytesPerSector, uint32_t& freeClusters, uint32_t& totalClusters,
                   std::string* why) {
    disk::VolumeIo& io = ctx.io;
    std::string ignored;
    std::string& reason = why ? *why : ignored;
    const std::string volume = ctx.catalogue.Describe(LetterOf(root));
    platform::DevicePtr remembered = std::move(io.VolumeHandle);
    io.VolumeHandle = io.OpenVolume(root, disk::Access::Read);
    if (!io.VolumeHandle) {
        reason = io.OpenErrorText;
        OpenFailed(ctx, io.OpenErrorKind, reason);
        io.VolumeHandle = std::move(remembered);
        return false;
    }
    uint8_t* boot = ctx.geo.BootSector.data();
    const bool read = io.ReadBootSector(boot) == 0;
    disk::VolumeIo::CloseVolumeHandle(io.VolumeHandle);
    io.VolumeHandle = std::move(remembered);

    const format::BootRecord record = format::ParseBootRecord(boot);
    if (read && record.numberOfFats == 2) {
        sectorsPerCluster = record.sectorsPerCluster;
        bytesPerSector = format::kSectorSize;
        const platform::QueryResult query = ctx.catalogue.Query(LetterOf(root));
        if (!query.ok) {
            reason = query.message;
            report::ShowError(ctx.report, "StsX=" + query.message);
            return false;
        }
        if (sectorsPerCluster == 0) {
            reason = volume + ": no sectors per cluster";
            return false;
        }
        // 64-bit counts: no volume FAT allows overflows here.
        freeClusters =
            static_cast<uint32_t>(query.info.freeBytes / format::kSectorSize / sectorsPerCluster);
        totalClusters =
            static_cast<uint32_t>(query.info.totalBytes / format::kSectorSize / sectorsPerCluster);
        return true;
    }
    reason = volume + ": cannot read the boot sector";
    if (read) {
        reason = volume + ": the volume has " + std::to_string(record.numberOfFats) +
                 " FATs; only volumes with two FATs are supported";
        report::ShowError(ctx.report, "Err: FATs=" + std::to_string(record.numberOfFats));
    } else if (io.ExtIOError != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(io.ExtIOError));
        report::ShowError(ctx.report, std::string("ErrD=") + hex);
    } else {
        report::ShowError(ctx.report, "ErrS=" + io.OpenErrorText);
    }
    return false;
}

int64_t GetVolumeSpace(run::RunContext& ctx, const std::string& root, uint32_t& sectorsPerCluster,
                       std::string* why) {
    uint32_t bytesPerSector = 0;
    if (GetFat32Space(ctx, root, sectorsPerCluster, bytesPerSector, ctx.geo.FreeClusters,
                      ctx.geo.TotalClusters, why)) {
        return int64_t{sectorsPerCluster} * ctx.geo.TotalClusters;
    }
    report::ShowLine(ctx.report, "Unable to view " + root);
    return 0;
}

bool Get_Mem(run::RunContext& ctx, bool unattended) {
    bool sized = true;
    try {
        fat::SizeFatArrays(ctx.run);
        ctx.model.MemReserve.assign(
            fat::MemReserveEntries(ctx.model.Fat.size() - 1, ctx.geo.SectorsPerCluster), 0);
    } catch (const std::bad_alloc&) {
        sized = false;
    }
    if (!sized) {
        ctx.model.MemReserve.assign(1, 0);
        ctx.ui.Beep();
        if (unattended) {
            report::ShowError(ctx.report, "Insufficient memory.");
        } else {
            report::NoMemErr(ctx.report);
        }
        return false;
    }
    for (int i = 0; i < 3; ++i)
        report::LetEventsRun(ctx.report);
    return true;
}

std::string ViewMap(run::RunContext& ctx, const std::string& driveText, bool unattended) {
    ctx.flags.StopRequested = false;
    ctx.geo.DriveText = driveText;
    report::ClearText(ctx.report);
    const std::string root = driveText.substr(0, 2) + "\\";
    BeginLaunch(ctx, root);
    const platform::QueryResult query = ctx.catalogue.Query(LetterOf(root));
    const std::string name = FileSystemNameOf(query);
    ctx.geo.FileSystemName = name;
    ctx.ui.SetBusyPointer(true);
    std::string refused;
    if (query.openError != platform::OpenError::None) {
        // Nothing was read to name a file system by: say which volume and why.
        refused = query.message;
        OpenFailed(ctx, query.openError, refused);
        report::Check4Errors(ctx.report);
    } else if (name.substr(0, 3) != "FAT") {
        refused = query.message;
        report::ShowLine(ctx.report, "Unsupported File System: " + name);
        report::ShowLine(ctx.report, refused);
    } else {
        refused = ViewFatMap(ctx, root, unattended);
    }
    ctx.ui.SetBusyPointer(false);
    return refused;
}

std::string ViewFatMap(run::RunContext& ctx, const std::string& root, bool unattended) {
    uint32_t sectorsPerCluster = 0;
    std::string refused;
    const int64_t dataSectors = GetVolumeSpace(ctx, root, sectorsPerCluster, &refused);
    if (dataSectors == 0) {
        report::Check4Errors(ctx.report);
        return refused;
    }
    ctx.geo.DataSectors = dataSectors;
    ctx.geo.SectorsPerCluster = sectorsPerCluster;
    ctx.geo.BigFileClusters = 1024 / sectorsPerCluster;

    // Opened as the run will open it, so that a defragmentation of a read-only
    // image is refused here, before anything starts.
    const bool writes = ctx.mode.DefragMode >= 0;
    ctx.io.VolumeHandle =
        ctx.io.OpenVolume(root, writes ? disk::Access::ReadWrite : disk::Access::Read);
    if (!ctx.io.VolumeHandle) {
        OpenFailed(ctx, ctx.io.OpenErrorKind, ctx.io.OpenErrorText);
        report::Check4Errors(ctx.report);
        report::ShowLine(ctx.report, "Unable to view " + root);
        return ctx.io.OpenErrorText;
    }
    uint8_t boot[format::kSectorSize];
    const bool read = ctx.io.ReadBootSector(boot) == 0;
    disk::VolumeIo::CloseVolumeHandle(ctx.io.VolumeHandle);
    if (!read || format::ParseBootRecord(boot).numberOfFats != 2) {
        report::ShowError(ctx.report, "Err=ReadBPB");
        report::ShowLine(ctx.report, "Unable to view " + root);
        return ctx.catalogue.Describe(LetterOf(root)) + ": cannot read the boot sector";
    }
    const uint32_t freeClusters = ctx.geo.FreeClusters;
    disk::ComputeGeometry(ctx.geo, boot);
    ctx.geo.CodePage = ctx.catalogue.codePage;
    ctx.geo.FreeClusters = freeClusters;
    if (!Get_Mem(ctx, unattended)) return {};

    ctx.io.DriveLetter = root.substr(0, 2);
    const char* caption = !ctx.mode.CheckStructure   ? CaptionOf(RunCommand::FastView)
                          : ctx.mode.DefragMode >= 0 ? CaptionOf(RunCommand::Defrag)
                                                     : CaptionOf(RunCommand::CheckedView);
    ctx.RunCaption = WithoutFirstAmpersand(caption) + " " + ctx.io.DriveLetter;

    ResetRunWindow(ctx);
    if (ctx.openRunWindow) {
        ctx.openRunWindow(ctx);
    } else {
        run::FormLoad(ctx);
    }

    report::LetEventsRun(ctx.report);
    ctx.model.MemReserve.assign(1, 0);
    report::Check4Errors(ctx.report);
    return {};
}

std::string HexLaunch(run::RunContext& ctx, const std::string& driveText,
                      const std::function<void(viewer::HexView&)>& show) {
    const std::string root = driveText.substr(0, 2) + "\\";
    BeginLaunch(ctx, root);
    const platform::QueryResult query = ctx.catalogue.Query(LetterOf(root));
    const std::string name = FileSystemNameOf(query);
    if (query.openError != platform::OpenError::None) {
        OpenFailed(ctx, query.openError, query.message);
        report::Check4Errors(ctx.report);
        return query.message;
    }
    if (name.substr(0, 3) != "FAT") {
        report::ShowLine(ctx.report, "Unsupported File System: " + name);
        return query.message.empty() ? "Unsupported File System: " + name : query.message;
    }
    uint32_t sectorsPerCluster = 0;
    std::string refused;
    const int64_t dataSectors = GetVolumeSpace(ctx, root, sectorsPerCluster, &refused);
    if (dataSectors == 0) {
        report::Check4Errors(ctx.report);
        return refused;
    }
    disk::VolumeIo& io = ctx.io;
    io.VolumeHandle = io.OpenVolume(root, disk::Access::Read);
    if (!io.VolumeHandle) {
        OpenFailed(ctx, io.OpenErrorKind, io.OpenErrorText);
        report::Check4Errors(ctx.report);
        report::ShowLine(ctx.report, "Unable to view " + root);
        return io.OpenErrorText;
    }
    uint8_t boot[format::kSectorSize];
    if (io.ReadBootSector(boot) != 0) {
        disk::VolumeIo::CloseVolumeHandle(io.VolumeHandle);
        report::ShowLine(ctx.report, "Error reading " + root);
        return ctx.catalogue.Describe(LetterOf(root)) + ": cannot read the boot sector";
    }
    const uint32_t freeClusters = ctx.geo.FreeClusters;
    disk::ComputeGeometry(ctx.geo, boot);
    ctx.geo.CodePage = ctx.catalogue.codePage;
    ctx.geo.FreeClusters = freeClusters;
    ctx.geo.DataSectors = dataSectors;
    ctx.geo.ClusterCount = static_cast<uint32_t>(dataSectors / ctx.geo.SectorsPerCluster);
    ctx.geo.DriveText = driveText;
    io.DriveLetter = root.substr(0, 2);
    // What an earlier run left in the run flags would refuse every folder walk.
    report::RunFlags& f = ctx.flags;
    f.AbortRun = 0;
    f.RunError = false;
    f.ErrText.clear();
    f.ErrSource.clear();
    f.StopRequested = f.CloseRequested = f.DiskErrorFlag = false;
    bool loaded = false;
    try {
        loaded = fat::ReadFat(ctx.run);
    } catch (const std::bad_alloc&) {
        ctx.flags.NoMemoryFlag = true;
    }
    if (!loaded) {
        // A failed read has set the disk error; a FAT that cannot be held, the memory flag.
        disk::VolumeIo::CloseVolumeHandle(io.VolumeHandle);
        report::Check4Errors(ctx.report);
        return ctx.catalogue.Describe(LetterOf(root)) + ": cannot read the FAT";
    }

    ctx.flags.DiskErrorFlag = false;
    viewer::HexView view(ctx);
    if (show) show(view);
    view.Form_Unload();
    report::LetEventsRun(ctx.report);
    if (!ctx.report.Main.ViewerErrorText.empty()) report::HexError(ctx.report);
    if (ctx.flags.DiskErrorFlag) report::Check4Errors(ctx.report);
    return {};
}

}  // namespace kestra::app
