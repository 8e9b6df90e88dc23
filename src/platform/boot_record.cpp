#include "platform/boot_record.h"

#include <cstring>

namespace kestra::platform {
namespace {

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

BootRecord ParseBootRecord(const uint8_t* s) {
    BootRecord b;
    b.bytesPerSector = Le16(s + 11);
    b.sectorsPerCluster = s[13];
    b.reservedSectors = Le16(s + 14);
    b.numberOfFats = s[16];
    b.rootEntryCount = Le16(s + 17);
    b.totalSectors = Le16(s + 19) != 0 ? Le16(s + 19) : Le32(s + 32);
    b.fatSize16 = Le16(s + 22);
    b.fatSize32 = Le32(s + 36);
    b.rootCluster = Le32(s + 44);
    // The extended boot record sits after the FAT32 fields on FAT32 volumes.
    const uint8_t* ext = b.fatSize16 == 0 ? s + 64 : s + 36;
    // "NO NAME" is what formatters write for no label.
    if (ext[2] == 0x29 && std::memcmp(ext + 7, "NO NAME    ", 11) != 0) {
        b.hasLabel = true;
        std::memcpy(b.labelBytes.data(), ext + 7, 11);
    }
    return b;
}

uint32_t BootRecord::ClusterCount() const {
    const uint64_t first = FirstDataSector();
    if (sectorsPerCluster == 0 || totalSectors <= first) return 0;
    return static_cast<uint32_t>((totalSectors - first) / sectorsPerCluster);
}

FatType BootRecord::Type() const {
    if (fatSize16 == 0) return fatSize32 != 0 ? FatType::Fat32 : FatType::Unknown;
    const uint32_t clusters = ClusterCount();
    if (clusters < 4085) return FatType::Fat12;
    if (clusters < 65525) return FatType::Fat16;
    return FatType::Unknown;
}

std::string CheckBootRecord(const BootRecord& b, uint64_t deviceSectors) {
    if (b.bytesPerSector != 512) {
        return "sectors of " + std::to_string(b.bytesPerSector) +
               " bytes are not supported (only 512-byte sectors)";
    }
    const uint8_t spc = b.sectorsPerCluster;
    if (spc == 0 || (spc & (spc - 1)) != 0) return "not a FAT volume (bad sectors per cluster)";
    if (b.reservedSectors == 0) return "not a FAT volume (no reserved sectors)";
    if (b.numberOfFats == 0) return "not a FAT volume (no FAT)";
    if (b.FatSectors() == 0) return "not a FAT volume (FAT size is 0)";
    if (b.totalSectors > deviceSectors) {
        return "the volume claims " + std::to_string(b.totalSectors) +
               " sectors but its device has " + std::to_string(deviceSectors);
    }
    const uint32_t clusters = b.ClusterCount();
    if (clusters == 0) return "not a FAT volume (no data clusters)";
    const FatType type = b.Type();
    if (type == FatType::Unknown) return "not a FAT volume (too many clusters for FAT16)";
    if (type == FatType::Fat32 && (b.rootCluster < 2 || b.rootCluster > clusters + 1)) {
        return "not a FAT volume (root folder cluster out of range)";
    }
    if (type == FatType::Fat32 && clusters > 0x0FFFFFF5u) return "too many clusters for FAT32";
    const uint64_t bits = type == FatType::Fat12 ? 12 : type == FatType::Fat16 ? 16 : 32;
    if (uint64_t{b.FatSectors()} * 512 * 8 / bits < uint64_t{clusters} + 2) {
        return "the FAT is too small for the volume's clusters";
    }
    return {};
}

uint32_t VolumeSerial(const uint8_t* s) {
    const uint8_t* ext = Le16(s + 22) == 0 ? s + 64 : s + 36;
    return ext[2] == 0x29 || ext[2] == 0x28 ? Le32(ext + 3) : 0;
}

}  // namespace kestra::platform
