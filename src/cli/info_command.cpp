#include <cctype>
#include <iostream>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/volume_args.h"
#include "disk/geometry.h"
#include "disk/volume_io.h"
#include "display/cluster_map.h"

namespace kestra::cli {
namespace {

const char* TypeName(platform::FatType type) {
    switch (type) {
        case platform::FatType::Fat12:
            return "FAT12";
        case platform::FatType::Fat16:
            return "FAT16";
        case platform::FatType::Fat32:
            return "FAT32";
        default:
            return "unknown";
    }
}

}  // namespace

int InfoCommand(std::vector<std::string> args) {
    VolumeArgs volume = ParseVolumeArgs(args);
    if (!volume.error.empty()) {
        std::cerr << "kestra-cli info: " << volume.error << "\n";
        return kExitUsage;
    }
    const std::string name = volume.catalogue.Describe(volume.letter);
    const platform::QueryResult query = volume.catalogue.Query(volume.letter);
    if (!query.ok) {
        std::cerr << "kestra-cli info: " << query.message << "\n";
        return query.openError == platform::OpenError::Busy ? kExitBusy : kExitDisk;
    }

    platform::QuietUiHost ui;
    report::RunFlags flags;
    disk::VolumeIo io(volume.catalogue, ui, flags);
    io.VolumeHandle = io.OpenVolume(std::string(1, volume.letter), disk::Access::Read);
    uint8_t boot[512];
    const bool read = io.VolumeHandle && io.ReadBootSector(boot) == 0;
    disk::VolumeIo::CloseVolumeHandle(io.VolumeHandle);
    if (!read) {
        std::cerr << "kestra-cli info: " << name << ": cannot read the boot sector\n";
        return kExitDisk;
    }
    if (boot[16] != 2) {
        std::cerr << "kestra-cli info: " << name << ": the volume has " << int{boot[16]}
                  << " FATs; only volumes with two FATs are supported\n";
        return kExitDisk;
    }

    disk::Geometry geo;
    disk::ComputeGeometry(geo, boot, query.info.fileSystemName, query.info.totalClusters);
    geo.FreeClusters = query.info.freeClusters;
    geo.DriveText = std::string(1, static_cast<char>(std::tolower(volume.letter))) + ":";
    if (!query.info.label.empty()) geo.DriveText += " [" + query.info.label + "]";

    for (const std::string& line :
         disk::GeometryLines(geo, static_cast<uint32_t>(display::MapScaleFor(geo.ClusterCount)))) {
        std::cout << line << "\n";
    }
    std::cout << "Type=" << TypeName(geo.Type) << "  Clusters=" << geo.ClusterCount
              << "  ClusterBytes=" << geo.SectorsPerCluster * 512
              << "  FreeClusters=" << geo.FreeClusters << "\n";
    return kExitClean;
}

}  // namespace kestra::cli
