#include "image/boot_sector.h"

#include <algorithm>
#include <cstring>

#include "format/boot_sector.h"
#include "format/little_endian.h"
#include "image/dir_entry.h"

namespace kestra::image {

// Each checks that every byte lies inside `bytes` before it reads or writes.
void Put16(std::vector<uint8_t>& bytes, uint64_t at, uint16_t value) {
    format::PutLe16(&bytes.at(at + 1) - 1, value);
}

void Put32(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value) {
    format::PutLe32(&bytes.at(at + 3) - 3, value);
}

uint16_t Get16(const std::vector<uint8_t>& bytes, uint64_t at) {
    return format::Le16(&bytes.at(at + 1) - 1);
}

uint32_t Get32(const std::vector<uint8_t>& bytes, uint64_t at) {
    return format::Le32(&bytes.at(at + 3) - 3);
}

namespace {

// Sector `n` of `bytes`, checked to lie inside it.
uint8_t* SectorAt(std::vector<uint8_t>& bytes, uint64_t n) {
    return &bytes.at((n + 1) * format::kSectorSize - 1) - (format::kSectorSize - 1);
}

void PutText(std::vector<uint8_t>& bytes, uint64_t at, const char* text, size_t width) {
    for (size_t i = 0; i < width; ++i)
        bytes.at(at + i) = ' ';
    std::memcpy(&bytes.at(at), text, std::min(width, std::strlen(text)));
}

}  // namespace

void WriteBootRegion(const ImageOptions& opts, const Layout& l, std::vector<uint8_t>& v) {
    namespace bpb = format::bpb;
    const bool is32 = l.type == FatType::kFat32;
    v.at(0) = 0xEB;
    v.at(1) = is32 ? 0x58 : 0x3C;
    v.at(2) = 0x90;
    PutText(v, 3, "KESTRATB", 8);
    Put16(v, bpb::kBytesPerSector, opts.bytesPerSectorField);
    v.at(bpb::kSectorsPerCluster) = static_cast<uint8_t>(l.sectorsPerCluster);
    Put16(v, bpb::kReservedSectors, static_cast<uint16_t>(l.reservedSectors));
    v.at(bpb::kNumberOfFats) = static_cast<uint8_t>(l.numFats);
    Put16(v, bpb::kRootEntryCount, static_cast<uint16_t>(is32 ? 0 : l.rootEntries));
    const bool small = !is32 && l.totalSectors < 0x10000;
    Put16(v, bpb::kTotalSectors16, small ? static_cast<uint16_t>(l.totalSectors) : 0);
    v.at(bpb::kMedia) = opts.media;
    Put16(v, bpb::kFatSize16, is32 ? 0 : static_cast<uint16_t>(l.fatSectors));
    Put16(v, bpb::kSectorsPerTrack, opts.sectorsPerTrack);
    Put16(v, bpb::kHeads, opts.heads);
    Put32(v, bpb::kHiddenSectors, opts.hiddenSectors);
    Put32(v, bpb::kTotalSectors32, small ? 0 : l.totalSectors);

    const uint64_t ext = is32 ? bpb::kExtendedFat32 : bpb::kExtendedFat16;
    if (is32) {
        Put32(v, bpb::kFatSize32, l.fatSectors);
        Put16(v, bpb::kExtFlags, 0);  // every FAT copy is kept current
        Put16(v, bpb::kVersion, 0);   // version 0.0
        Put32(v, bpb::kRootCluster, l.rootCluster);
        Put16(v, bpb::kFsInfoSector, kFsInfoSector);
        Put16(v, bpb::kBackupBootSector, kBackupBootSector);
    }
    v.at(ext + bpb::kExtDrive) = opts.media == 0xF8 ? 0x80 : 0x00;
    v.at(ext + bpb::kExtSignature) = 0x29;
    Put32(v, ext + bpb::kExtSerial, opts.volumeId);
    const ShortName label = PackLabel(opts.label.empty() ? "NO NAME" : opts.label);
    std::memcpy(&v.at(ext + bpb::kExtLabel), label.data(), 11);
    PutText(v, ext + bpb::kExtTypeText, FatTypeName(l.type), 8);
    v.at(bpb::kSignature) = 0x55;
    v.at(bpb::kSignature + 1) = 0xAA;

    if (!is32) return;
    format::WriteFsInfoSignatures(SectorAt(v, kFsInfoSector));
    // Backup boot sector and backup FSInfo right after it.
    std::memcpy(SectorAt(v, kBackupBootSector), &v.at(0), 2 * format::kSectorSize);
}

void WriteFsInfoCounts(std::vector<uint8_t>& volume, uint32_t freeCount, uint32_t nextFree) {
    for (uint32_t sector : {kFsInfoSector, kBackupBootSector + kFsInfoSector})
        format::SetFsInfoCounts(SectorAt(volume, sector), freeCount, nextFree);
}

}  // namespace kestra::image
