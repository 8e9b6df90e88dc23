#pragma once

// The boot sector of a FAT volume (BPB, FAT32 extension, extended boot record),
// its FSInfo sector, and the one FAT-type decision taken from them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestra::format {

enum class FatType { Unknown, Fat12, Fat16, Fat32 };

// Fewer than 4,085 clusters is FAT12, fewer than 65,525 FAT16, anything more FAT32.
inline constexpr uint32_t kMinFat16Clusters = 4085;
inline constexpr uint32_t kMinFat32Clusters = 65525;
FatType FatTypeForClusters(uint32_t clusters);

// Byte offsets of the fields of sector 0.
namespace bpb {
inline constexpr size_t kBytesPerSector = 11;
inline constexpr size_t kSectorsPerCluster = 13;
inline constexpr size_t kReservedSectors = 14;
inline constexpr size_t kNumberOfFats = 16;
inline constexpr size_t kRootEntryCount = 17;
inline constexpr size_t kTotalSectors16 = 19;
inline constexpr size_t kMedia = 21;
inline constexpr size_t kFatSize16 = 22;
inline constexpr size_t kSectorsPerTrack = 24;
inline constexpr size_t kHeads = 26;
inline constexpr size_t kHiddenSectors = 28;
inline constexpr size_t kTotalSectors32 = 32;
// The FAT32 extension.
inline constexpr size_t kFatSize32 = 36;
inline constexpr size_t kExtFlags = 40;
inline constexpr size_t kVersion = 42;
inline constexpr size_t kRootCluster = 44;
inline constexpr size_t kFsInfoSector = 48;
inline constexpr size_t kBackupBootSector = 50;
// The extended boot record follows the BPB, or the FAT32 extension; its fields
// are counted from its start.
inline constexpr size_t kExtendedFat16 = 36;
inline constexpr size_t kExtendedFat32 = 64;
inline constexpr size_t kExtDrive = 0;
inline constexpr size_t kExtState = 1;  // bit 0: the volume is in use
inline constexpr size_t kExtSignature = 2;
inline constexpr size_t kExtSerial = 3;
inline constexpr size_t kExtLabel = 7;
inline constexpr size_t kExtTypeText = 18;
inline constexpr size_t kSignature = 510;  // 55h AAh
}  // namespace bpb

inline constexpr uint8_t kStateInUse = 0x01;
// The backup boot sector field holds one of these when there is no backup.
inline constexpr uint16_t kNoBackup = 0;
inline constexpr uint16_t kNoBackupToo = 0xFFFF;

// The fields of a FAT boot sector that locate every region of the volume, and the
// figures the published rules derive from them.
struct BootRecord {
    uint16_t bytesPerSector = 0;
    uint8_t sectorsPerCluster = 0;
    uint16_t reservedSectors = 0;
    uint8_t numberOfFats = 0;
    uint16_t rootEntryCount = 0;
    uint32_t totalSectors = 0;
    uint8_t media = 0;
    uint16_t fatSize16 = 0;
    uint32_t fatSize32 = 0;
    uint32_t rootCluster = 0;
    uint16_t fsInfoSector = 0;
    uint16_t backupBootSector = 0;
    // The label of the extended boot record as stored, in the volume's code page.
    bool hasLabel = false;
    std::array<uint8_t, 11> labelBytes{};

    // Laid out for FAT32: the 16-bit FAT size is 0.
    bool Fat32Layout() const { return fatSize16 == 0; }
    uint32_t FatSectors() const { return fatSize16 != 0 ? fatSize16 : fatSize32; }
    uint32_t RootDirSectors() const;
    uint64_t FirstDataSector() const {
        return uint64_t{reservedSectors} + uint64_t{numberOfFats} * FatSectors() + RootDirSectors();
    }
    uint32_t ClusterCount() const;
    // A boot sector laid out for FAT32 is FAT32 whatever its cluster count;
    // otherwise the cluster count decides between FAT12 and FAT16.
    FatType Type() const;
};

BootRecord ParseBootRecord(const uint8_t* sector);

// Empty when the volume can be addressed safely; otherwise why it cannot.
std::string CheckBootRecord(const BootRecord& boot, uint64_t deviceSectors);

// Where the extended boot record of `sector` starts.
size_t ExtendedRecordAt(const uint8_t* sector);
// The offset of the state byte; false when the sector has no extended boot record.
bool StateByteAt(const uint8_t* sector, size_t& at);
// The serial number formatters write into the extended boot record; 0 without one.
uint32_t VolumeSerial(const uint8_t* sector);

uint32_t RootClusterField(const uint8_t* sector);
void SetRootClusterField(uint8_t* sector, uint32_t cluster);
uint16_t BackupBootSectorField(const uint8_t* sector);
void SetBackupBootSectorField(uint8_t* sector, uint16_t sectorNumber);
uint16_t FsInfoSectorField(const uint8_t* sector);

// The FSInfo sector of FAT32: signatures and the two counts it keeps.
namespace fsinfo {
inline constexpr size_t kLeadSignature = 0;
inline constexpr size_t kStructSignature = 484;
inline constexpr size_t kFreeCount = 488;
inline constexpr size_t kNextFree = 492;
inline constexpr size_t kTrailSignature = 508;
inline constexpr uint32_t kLead = 0x41615252;
inline constexpr uint32_t kStruct = 0x61417272;
inline constexpr uint32_t kTrail = 0xAA550000;
inline constexpr uint32_t kUnknown = 0xFFFFFFFF;
}  // namespace fsinfo

// True when both leading signatures are in place.
bool IsFsInfo(const uint8_t* sector);
uint32_t FsInfoFreeCount(const uint8_t* sector);
uint32_t FsInfoNextFree(const uint8_t* sector);
void SetFsInfoCounts(uint8_t* sector, uint32_t freeCount, uint32_t nextFree);
// An FSInfo sector with its three signatures and both counts unknown.
void WriteFsInfoSignatures(uint8_t* sector);

}  // namespace kestra::format
