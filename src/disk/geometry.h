#pragma once

// Where every region of the volume lies.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "format/boot_sector.h"
#include "format/code_page.h"
#include "format/sector_size.h"

namespace kestra::disk {

// Where every region of the volume lies, derived once per launch from sector 0.
struct Geometry {
    std::array<uint8_t, format::kSectorSize> BootSector{};
    format::BootRecord Boot;     // the fields of BootSector, for either FAT layout
    std::string FileSystemName;  // "FAT" or "FAT32"
    std::string DriveText;       // e.g. "C:"

    bool IsFat32 = false;
    format::FatType Type = format::FatType::Unknown;
    uint32_t SectorsPerCluster = 0;
    uint32_t RootEntryCount = 0;
    uint32_t TotalClusters = 0;
    uint32_t FreeClusters = 0;
    uint32_t ClusterCount = 0;  // clusters are numbered 2 .. ClusterCount + 1
    int64_t ClusterBase = 0;    // the absolute sector just before cluster 2
    int64_t DataSectors = 0;
    uint32_t BigFileClusters = 0;  // clusters in 512 KB

    int64_t FatStartSector = 0;  // first sector of FAT 1
    uint32_t FatSectors = 0;     // length of one FAT copy
    uint32_t NumberOfFats = 0;
    uint32_t RootCluster = 0;  // FAT32 only

    // What short names and the label are stored in; set by the launch.
    format::CodePage CodePage;
};

// Everything from the boot sector alone, the FAT type and the cluster count
// included; the free count is the caller's.
void ComputeGeometry(Geometry& geo, const uint8_t* bootSector);

int64_t ClusterToSector(const Geometry& geo, uint32_t cluster);
// First sector of the fixed root folder of FAT12/16, and its length.
int64_t RootDirSector(const Geometry& geo);
uint32_t RootDirSectors(const Geometry& geo);

// A sector count as the short text of the status lines ("1.50Mb", ".5Kb", "2.05Gb").
std::string FormatSectors(uint64_t n);

// The three lines that open every run.
std::vector<std::string> GeometryLines(const Geometry& geo, uint32_t mapScale);

}  // namespace kestra::disk
