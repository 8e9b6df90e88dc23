#include "format/boot_sector.h"

#include <cstring>

#include "format/fat_entry.h"
#include "format/little_endian.h"
#include "format/sector_size.h"

namespace kestra::format {

FatType FatTypeForClusters(uint32_t clusters) {
    if (clusters < kMinFat16Clusters) return FatType::Fat12;
    if (clusters < kMinFat32Clusters) return FatType::Fat16;
    return FatType::Fat32;
}

BootRecord ParseBootRecord(const uint8_t* s) {
    using namespace bpb;
    BootRecord b;
    b.bytesPerSector = Le16(s + kBytesPerSector);
    b.sectorsPerCluster = s[kSectorsPerCluster];
    b.reservedSectors = Le16(s + kReservedSectors);
    b.numberOfFats = s[kNumberOfFats];
    b.rootEntryCount = Le16(s + kRootEntryCount);
    b.totalSectors =
        Le16(s + kTotalSectors16) != 0 ? Le16(s + kTotalSectors16) : Le32(s + kTotalSectors32);
    b.media = s[kMedia];
    b.fatSize16 = Le16(s + kFatSize16);
    b.fatSize32 = Le32(s + kFatSize32);
    b.rootCluster = RootClusterField(s);
    b.fsInfoSector = FsInfoSectorField(s);
    b.backupBootSector = BackupBootSectorField(s);
    const uint8_t* ext = s + ExtendedRecordAt(s);
    // "NO NAME" is what formatters write for no label.
    if (ext[kExtSignature] == 0x29 && std::memcmp(ext + kExtLabel, "NO NAME    ", 11) != 0) {
        b.hasLabel = true;
        std::memcpy(b.labelBytes.data(), ext + kExtLabel, 11);
    }
    return b;
}

uint32_t BootRecord::RootDirSectors() const {
    return (uint32_t{rootEntryCount} * 32 + kSectorSize - 1) / kSectorSize;
}

uint32_t BootRecord::ClusterCount() const {
    const uint64_t first = FirstDataSector();
    if (sectorsPerCluster == 0 || totalSectors <= first) return 0;
    return static_cast<uint32_t>((totalSectors - first) / sectorsPerCluster);
}

FatType BootRecord::Type() const {
    if (Fat32Layout()) return fatSize32 != 0 ? FatType::Fat32 : FatType::Unknown;
    const FatType type = FatTypeForClusters(ClusterCount());
    return type == FatType::Fat32 ? FatType::Unknown : type;
}

std::string CheckBootRecord(const BootRecord& b, uint64_t deviceSectors) {
    if (b.bytesPerSector != kSectorSize) {
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
    if (uint64_t{b.FatSectors()} * kSectorSize * 8 / FatEntryBits(type) < uint64_t{clusters} + 2) {
        return "the FAT is too small for the volume's clusters";
    }
    return {};
}

size_t ExtendedRecordAt(const uint8_t* s) {
    return Le16(s + bpb::kFatSize16) == 0 ? bpb::kExtendedFat32 : bpb::kExtendedFat16;
}

namespace {

bool HasExtendedRecord(const uint8_t* ext) {
    return ext[bpb::kExtSignature] == 0x29 || ext[bpb::kExtSignature] == 0x28;
}

}  // namespace

bool StateByteAt(const uint8_t* s, size_t& at) {
    const size_t ext = ExtendedRecordAt(s);
    at = ext + bpb::kExtState;
    return HasExtendedRecord(s + ext);
}

uint32_t VolumeSerial(const uint8_t* s) {
    const uint8_t* ext = s + ExtendedRecordAt(s);
    return HasExtendedRecord(ext) ? Le32(ext + bpb::kExtSerial) : 0;
}

uint32_t RootClusterField(const uint8_t* s) {
    return Le32(s + bpb::kRootCluster);
}

void SetRootClusterField(uint8_t* s, uint32_t cluster) {
    PutLe32(s + bpb::kRootCluster, cluster);
}

uint16_t BackupBootSectorField(const uint8_t* s) {
    return Le16(s + bpb::kBackupBootSector);
}

void SetBackupBootSectorField(uint8_t* s, uint16_t sectorNumber) {
    PutLe16(s + bpb::kBackupBootSector, sectorNumber);
}

uint16_t FsInfoSectorField(const uint8_t* s) {
    return Le16(s + bpb::kFsInfoSector);
}

bool IsFsInfo(const uint8_t* s) {
    return Le32(s + fsinfo::kLeadSignature) == fsinfo::kLead &&
           Le32(s + fsinfo::kStructSignature) == fsinfo::kStruct;
}

uint32_t FsInfoFreeCount(const uint8_t* s) {
    return Le32(s + fsinfo::kFreeCount);
}

uint32_t FsInfoNextFree(const uint8_t* s) {
    return Le32(s + fsinfo::kNextFree);
}

void SetFsInfoCounts(uint8_t* s, uint32_t freeCount, uint32_t nextFree) {
    PutLe32(s + fsinfo::kFreeCount, freeCount);
    PutLe32(s + fsinfo::kNextFree, nextFree);
}

void WriteFsInfoSignatures(uint8_t* s) {
    PutLe32(s + fsinfo::kLeadSignature, fsinfo::kLead);
    PutLe32(s + fsinfo::kStructSignature, fsinfo::kStruct);
    SetFsInfoCounts(s, fsinfo::kUnknown, fsinfo::kUnknown);
    PutLe32(s + fsinfo::kTrailSignature, fsinfo::kTrail);
}

}  // namespace kestra::format
