#include "fat/fat_table.h"

namespace kestra::fat {

using platform::FatType;

uint32_t WidenFat12(uint32_t raw, uint32_t last) {
    return raw >= 0xFF0 && raw > last ? raw | 0x0FFFF000 : raw;
}
uint32_t WidenFat16(uint32_t raw, uint32_t last) {
    return raw >= 0xFFF0 && raw > last ? raw | 0x0FFF0000 : raw;
}

uint32_t Fat12Entry(const std::vector<uint8_t>& fat12, uint32_t n) {
    const size_t at = size_t{n} + n / 2;
    const uint32_t word = fat12[at] | (uint32_t{fat12[at + 1]} << 8);
    return (n & 1) ? word >> 4 : word & 0xFFF;
}

bool SizeFatArrays(FatRun& run) {
    VolumeModel& m = run.model;
    const size_t sectors = run.geo.FatSectors;
    switch (run.geo.Type) {
        case FatType::Fat32:
            m.Fat.assign(sectors * 128, 0);
            m.Fat16Buffer.assign(1, 0);
            break;
        case FatType::Fat16:
            m.Fat.assign(sectors * 256, 0);
            m.Fat16Buffer.assign(sectors * 256, 0);
            break;
        default:
            m.Fat.assign(size_t{run.geo.ClusterCount} + 2, 0);
            m.Fat16Buffer.assign(1, 0);
            m.Fat12Buffer.assign(sectors * 512, 0);
            break;
    }
    return true;
}

bool ReadFat(FatRun& run) {
    VolumeModel& m = run.model;
    disk::VolumeIo& io = run.io;
    const uint64_t bytes = uint64_t{run.geo.FatSectors} * 512;
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
                m.Fat[c] = WidenFat16(m.Fat16Buffer[c], last);
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
