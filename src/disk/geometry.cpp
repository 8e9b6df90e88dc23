#include "disk/geometry.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace kestra::disk {

void ComputeGeometry(Geometry& geo, const uint8_t* bootSector) {
    std::memcpy(geo.BootSector.data(), bootSector, geo.BootSector.size());
    geo.Boot = format::ParseBootRecord(bootSector);
    geo.Type = geo.Boot.Type();
    geo.IsFat32 = geo.Type == format::FatType::Fat32;
    geo.FileSystemName = geo.IsFat32 ? "FAT32" : "FAT";
    geo.SectorsPerCluster = geo.Boot.sectorsPerCluster;
    geo.RootEntryCount = geo.Boot.rootEntryCount;
    geo.TotalClusters = geo.Boot.ClusterCount();
    geo.ClusterCount = geo.TotalClusters;
    geo.NumberOfFats = geo.Boot.numberOfFats;
    geo.FatStartSector = geo.Boot.reservedSectors;
    geo.FatSectors = geo.IsFat32 ? geo.Boot.fatSize32 : geo.Boot.fatSize16;
    geo.RootCluster = geo.IsFat32 ? geo.Boot.rootCluster : 0;
    // The reserved-sector field is honoured on every FAT type, and a root folder
    // whose entries do not fill its last sector still owns that sector.
    geo.ClusterBase = geo.FatStartSector + int64_t{geo.NumberOfFats} * geo.FatSectors +
                      (geo.IsFat32 ? 0 : RootDirSectors(geo)) - 1;
    geo.DataSectors = int64_t{geo.SectorsPerCluster} * geo.TotalClusters;
    geo.BigFileClusters = geo.SectorsPerCluster == 0 ? 0 : 1024 / geo.SectorsPerCluster;
}

int64_t ClusterToSector(const Geometry& geo, uint32_t cluster) {
    return geo.ClusterBase + 1 + (int64_t{cluster} - 2) * geo.SectorsPerCluster;
}

int64_t RootDirSector(const Geometry& geo) {
    return geo.FatStartSector + int64_t{geo.NumberOfFats} * geo.FatSectors;
}

uint32_t RootDirSectors(const Geometry& geo) {
    return geo.Boot.RootDirSectors();
}

namespace {

// Fixed decimals without a leading zero, rounding halves away from zero.
std::string Decimals(double value, int places) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    std::string s = text;
    if (s.rfind("0.", 0) == 0) s.erase(0, 1);
    return s;
}

std::string HalfKb(uint64_t n) {
    std::string s = std::to_string(n / 2);
    if (n % 2 != 0) s = (n / 2 == 0 ? "" : s) + ".5";
    return s;
}

}  // namespace

std::string FormatSectors(uint64_t n) {
    const float mb = static_cast<float>(n) / 2048.0f;
    if (mb < 1) {
        if (n == 0) return ".0Kb";
        if (n == 1) return ".5Kb";
        return HalfKb(n) + "Kb";
    }
    if (mb < 10) return Decimals(std::round(mb * 100.0) / 100.0, 2) + "Mb";
    if (mb < 100) return Decimals(std::round(mb * 10.0) / 10.0, 1) + "Mb";
    if (mb < 1024) return Decimals(std::round(mb), 0) + "Mb";
    const float gb = mb / 1000.0f;
    return Decimals(std::round(gb * 100.0) / 100.0, 2) + "Gb";
}

std::vector<std::string> GeometryLines(const Geometry& geo, uint32_t mapScale) {
    return {
        "Drive=" + geo.DriveText + "  " + geo.FileSystemName,
        "AllocUnit=" + std::to_string(geo.SectorsPerCluster / 2) +
            "Kb  Size=" + FormatSectors(static_cast<uint64_t>(geo.DataSectors)),
        "Map Scale=" + std::to_string((uint64_t{mapScale} * geo.SectorsPerCluster) / 2) + " Kb/Box",
    };
}

}  // namespace kestra::disk
