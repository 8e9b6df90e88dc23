#include "fat/fat_table.h"

#include "format/fat_entry.h"
#include "format/sector_size.h"

namespace kestra::fat {

using format::FatType;
using format::kSectorSize;

uint32_t WidenFat12(uint32_t raw, uint32_t last) {
    return raw >= 0xFF0 && raw > last ? raw | 0x0FFFF000 : raw;
}
uint32_t WidenFat16(uint32_t raw, uint32_t last) {
    return raw >= 0xFFF0 && raw > last ? raw | 0x0FFF0000 : raw;
}

uint32_t Fat16Entry(const std::vector<uint16_t>& fat16, uint32_t n) {
    return format::ReadFatEntry(reinterpret_cast<const uint8_t*>(fat16.data()), FatType::Fat16, n);
}

uint32_t Fat12Entry(const std::vector<uint8_t>& fat12, uint32_t n) {
    return format::ReadFatEntry(fat12.data(), FatType::Fat12, n);
}

bool SizeFatArrays(FatRun& run) {
    VolumeModel& m = run.model;
    const size_t sectors = run.geo.FatSectors;
    switch (run.geo.Type) {
        case FatType::Fat32:
            m.Fat.assign(sectors * (kSectorSize / 4), 0);
            m.Fat16Buffer.assign(1, 0);
            break;
        case FatType::Fat16:
            m.Fat.assign(sectors * (kSectorSize / 2), 0);
            m.Fat16Buffer.assign(sectors * (kSectorSize / 2), 0);
            break;
        default:
            m.Fat.assign(size_t{run.geo.ClusterCount} + 2, 0);
            m.Fat16Buffer.assign(1, 0);
            m.Fat12Buffer.assign(sectors * kSectorSize, 0);
            break;
    }
    return true;
}

bool ReadFat(FatRun& run) {
    VolumeModel& m = run.model;
    disk::VolumeIo& io = run.io;
    const uint64_t bytes = uint64_t{run.geo.FatSectors} * kSectorSize;
    // The FAT starts after the reserved sectors on every FAT type.
    io.SetNextSector(run.geo.FatStartSector);
    SizeFatArrays(run);
    switch (run.geo.Type) {
        case FatType::Fat32:
            return io.ReadSectorsNext(m.Fat.data(), bytes);
        case FatType::Fat16: {
            if (!io.ReadSectorsNext(m.Fat16Buffer.data(), bytes)) return false;
            const uint32_t last = run.geo.ClusterCount + 1;
            for (size_t c = 2; c < m.Fat16Buffer.size(); ++c)
                m.Fat[c] = WidenFat16(Fat16Entry(m.Fat16Buffer, static_cast<uint32_t>(c)), last);
            return true;
        }
        default: {
            if (!io.ReadSectors(m.Fat12Buffer.data(), bytes)) return false;
            const uint32_t last = run.geo.ClusterCount + 1;
            if (size_t{last} + last / 2 + 1 >= m.Fat12Buffer.size()) {
                // The launch refuses such volumes; never guess at missing entries.
                run.flags.AbortRun = 1;
                run.flags.RunError = true;
                run.flags.ErrText = "FAT too small";
                return false;
            }
            for (uint32_t c = 2; c <= last; ++c)
                m.Fat[c] = WidenFat12(Fat12Entry(m.Fat12Buffer, c), last);
            return true;
        }
    }
}

}  // namespace kestra::fat
