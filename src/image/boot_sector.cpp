#include "image/boot_sector.h"

#include <algorithm>
#include <cstring>

#include "image/dir_entry.h"

namespace kestra::image {

void Put16(std::vector<uint8_t>& bytes, uint64_t at, uint16_t value) {
    bytes.at(at) = value & 0xFF;
    bytes.at(at + 1) = value >> 8;
}

void Put32(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.at(at + i) = (value >> (8 * i)) & 0xFF;
}

uint16_t Get16(const std::vector<uint8_t>& bytes, uint64_t at) {
    return static_cast<uint16_t>(bytes.at(at) | (bytes.at(at + 1) << 8));
}

uint32_t Get32(const std::vector<uint8_t>& bytes, uint64_t at) {
    return uint32_t{Get16(bytes, at)} | (uint32_t{Get16(bytes, at + 2)} << 16);
}

namespace {

void PutText(std::vector<uint8_t>& bytes, uint64_t at, const char* text, size_t width) {
    for (size_t i = 0; i < width; ++i)
        bytes.at(at + i) = ' ';
    std::memcpy(&bytes.at(at), text, std::min(width, std::strlen(text)));
}

}  // namespace

void WriteBootRegion(const ImageOptions& opts, const Layout& l, std::vector<uint8_t>& v) {
    const bool is32 = l.type == FatType::kFat32;
    v.at(0) = 0xEB;
    v.at(1) = is32 ? 0x58 : 0x3C;
    v.at(2) = 0x90;
    PutText(v, 3, "KESTRATB", 8);
    Put16(v, 11, opts.bytesPerSectorField);
    v.at(13) = static_cast<uint8_t>(l.sectorsPerCluster);
    Put16(v, 14, static_cast<uint16_t>(l.reservedSectors));
    v.at(16) = static_cast<uint8_t>(l.numFats);
    Put16(v, 17, static_cast<uint16_t>(is32 ? 0 : l.rootEntries));
    const bool small = !is32 && l.totalSectors < 0x10000;
    Put16(v, 19, small ? static_cast<uint16_t>(l.totalSectors) : 0);
    v.at(21) = opts.media;
    Put16(v, 22, is32 ? 0 : static_cast<uint16_t>(l.fatSectors));
    Put16(v, 24, opts.sectorsPerTrack);
    Put16(v, 26, opts.heads);
    Put32(v, 28, opts.hiddenSectors);
    Put32(v, 32, small ? 0 : l.totalSectors);

    // The extended fields sit 28 bytes later on FAT32.
    const uint64_t ext = is32 ? 64 : 36;
    if (is32) {
        Put32(v, 36, l.fatSectors);
        Put16(v, 40, 0);  // every FAT copy is kept current
        Put16(v, 42, 0);  // version 0.0
        Put32(v, 44, l.rootCluster);
        Put16(v, 48, kFsInfoSector);
        Put16(v, 50, kBackupBootSector);
    }
    v.at(ext) = opts.media == 0xF8 ? 0x80 : 0x00;
    v.at(ext + 2) = 0x29;
    Put32(v, ext + 3, opts.volumeId);
    const ShortName label = PackLabel(opts.label.empty() ? "NO NAME" : opts.label);
    std::memcpy(&v.at(ext + 7), label.data(), 11);
    PutText(v, ext + 18, FatTypeName(l.type), 8);
    v.at(510) = 0x55;
    v.at(511) = 0xAA;

    if (!is32) return;
    const uint64_t info = kFsInfoSector * 512;
    Put32(v, info, 0x41615252);
    Put32(v, info + 484, 0x61417272);
    Put32(v, info + 488, 0xFFFFFFFF);
    Put32(v, info + 492, 0xFFFFFFFF);
    Put32(v, info + 508, 0xAA550000);
    // Backup boot sector and backup FSInfo right after it.
    std::memcpy(&v.at(kBackupBootSector * 512), &v.at(0), 1024);
}

void WriteFsInfoCounts(std::vector<uint8_t>& volume, uint32_t freeCount, uint32_t nextFree) {
    for (uint32_t sector : {kFsInfoSector, kBackupBootSector + kFsInfoSector}) {
        Put32(volume, sector * 512 + 488, freeCount);
        Put32(volume, sector * 512 + 492, nextFree);
    }
}

}  // namespace kestra::image
