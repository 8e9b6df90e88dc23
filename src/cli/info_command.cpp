#include <cctype>
#include <iostream>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/json_report.h"
#include "cli/volume_args.h"
#include "disk/geometry.h"
#include "disk/volume_io.h"
#include "display/cluster_map.h"

namespace kestra::cli {

int InfoCommand(std::vector<std::string> args) {
    const ParsedArgs parsed = ParseOptions(args, WithVolumeOptions({{"json", Arity::Flag}}));
    const bool json = parsed.Has("json");
    VolumeArgs volume = parsed.error.empty() ? ResolveVolume(parsed) : VolumeArgs{};
    if (!parsed.error.empty()) volume.error = parsed.error;
    if (!volume.error.empty()) {
        std::cerr << "kestra-cli info: " << volume.error << "\n";
        return kExitUsage;
    }
    // A refusal is still one JSON document for a script that asked for one.
    auto fail = [json](const std::string& why, int status) {
        std::cerr << "kestra-cli info: " << why << "\n";
        if (json) {
            const nlohmann::ordered_json j = {
                {"command", "info"}, {"exitStatus", status}, {"errors", {{"text", why}}}};
            std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                      << std::endl;
        }
        return status;
    };
    const std::string name = volume.catalogue.Describe(volume.letter);
    const platform::QueryResult query = volume.catalogue.Query(volume.letter);
    if (!query.ok) {
        return fail(query.message,
                    query.openError == platform::OpenError::Busy ? kExitBusy : kExitDisk);
    }

    platform::QuietUiHost ui;
    report::RunFlags flags;
    disk::VolumeIo io(volume.catalogue, ui, flags);
    io.VolumeHandle = io.OpenVolume(std::string(1, volume.letter), disk::Access::Read);
    uint8_t boot[format::kSectorSize];
    const bool read = io.VolumeHandle && io.ReadBootSector(boot) == 0;
    disk::VolumeIo::CloseVolumeHandle(io.VolumeHandle);
    if (!read) return fail(name + ": cannot read the boot sector", kExitDisk);
    disk::Geometry geo;
    disk::ComputeGeometry(geo, boot);
    if (geo.NumberOfFats != 2) {
        return fail(name + ": the volume has " + std::to_string(geo.NumberOfFats) +
                        " FATs; only volumes with two FATs are supported",
                    kExitDisk);
    }

    geo.FreeClusters = query.info.freeClusters;
    geo.DriveText = std::string(1, static_cast<char>(std::tolower(volume.letter))) + ":";
    if (!query.info.label.empty()) geo.DriveText += " [" + query.info.label + "]";

    const auto lines =
        disk::GeometryLines(geo, static_cast<uint32_t>(display::MapScaleFor(geo.ClusterCount)));
    if (json) {
        const nlohmann::ordered_json j = {{"command", "info"},
                                          {"exitStatus", kExitClean},
                                          {"geometry", GeometryJson(geo)},
                                          {"freeSpace", {{"clusters", geo.FreeClusters}}},
                                          {"label", query.info.label},
                                          {"statusLines", lines}};
        std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
        return kExitClean;
    }
    for (const std::string& line : lines)
        std::cout << line << "\n";
    std::cout << "Type=" << TypeName(geo.Type) << "  Clusters=" << geo.ClusterCount
              << "  ClusterBytes=" << geo.SectorsPerCluster * format::kSectorSize
              << "  FreeClusters=" << geo.FreeClusters << "\n";
    return kExitClean;
}

}  // namespace kestra::cli
