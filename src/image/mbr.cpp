#include "image/mbr.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "format/boot_sector.h"
#include "format/sector_size.h"
#include "format/volume_signature.h"
#include "image/boot_sector.h"

namespace kestra::image {

namespace {

using format::kSectorSize;

bool LooksLikeFatBoot(const std::vector<uint8_t>& v) {
    const size_t sig = format::bpb::kSignature;
    return v.size() >= kSectorSize && v[sig] == 0x55 && v[sig + 1] == 0xAA;
}

}  // namespace

uint8_t PartitionTypeFor(FatType type, uint32_t sectors) {
    switch (type) {
        case FatType::kFat12:
            return 0x01;
        case FatType::kFat16:
            return sectors < 65536 ? 0x04 : 0x06;
        case FatType::kFat32:
            return 0x0C;
    }
    return 0;
}

std::vector<uint8_t> BuildMbrDisk(std::vector<Partition> partitions) {
    uint64_t end = 1;
    bool used[4] = {};
    for (Partition& p : partitions) {
        if (p.slot < 1 || p.slot > 4) throw std::invalid_argument("MBR slots are 1..4");
        if (used[p.slot - 1]) throw std::invalid_argument("MBR slot given twice");
        used[p.slot - 1] = true;
        if (p.sectors == 0) p.sectors = static_cast<uint32_t>(p.volume.size() / kSectorSize);
        if (p.startLba == 0 || p.sectors == 0) throw std::invalid_argument("empty partition");
        end = std::max(end, uint64_t{p.startLba} + p.sectors);
    }
    std::vector<uint8_t> disk(end * kSectorSize);
    for (size_t i = 0; i < partitions.size(); ++i) {
        const Partition& p = partitions[i];
        for (size_t j = 0; j < i; ++j) {
            const Partition& q = partitions[j];
            if (p.startLba < q.startLba + q.sectors && q.startLba < p.startLba + p.sectors)
                throw std::invalid_argument("partitions overlap");
        }
        const uint64_t entry =
            format::kPartitionTable + uint64_t(p.slot - 1) * format::kPartitionSlotBytes;
        disk[entry] = p.active ? 0x80 : 0x00;
        // CHS fields say "use the LBA values" (the largest CHS address).
        disk[entry + 1] = disk[entry + 5] = 0xFE;
        disk[entry + 2] = disk[entry + 6] = 0xFF;
        disk[entry + 3] = disk[entry + 7] = 0xFF;
        disk[entry + 4] = p.type;
        Put32(disk, entry + 8, p.startLba);
        Put32(disk, entry + 12, p.sectors);
        if (p.volume.empty()) continue;
        const uint64_t at = uint64_t{p.startLba} * kSectorSize;
        std::memcpy(&disk[at], p.volume.data(),
                    std::min<size_t>(p.volume.size(), uint64_t{p.sectors} * kSectorSize));
        if (LooksLikeFatBoot(p.volume)) {
            const size_t hidden = format::bpb::kHiddenSectors;
            Put32(disk, at + hidden, p.startLba);
            const bool is32 = format::ParseBootRecord(p.volume.data()).Fat32Layout();
            if (is32 && p.volume.size() >= (kBackupBootSector + 1) * kSectorSize)
                Put32(disk, at + kBackupBootSector * kSectorSize + hidden, p.startLba);
        }
    }
    disk[format::bpb::kSignature] = 0x55;
    disk[format::bpb::kSignature + 1] = 0xAA;
    return disk;
}

std::vector<uint8_t> WrapInMbr(const std::vector<uint8_t>& volume, int slot, uint32_t startLba) {
    if (!LooksLikeFatBoot(volume)) throw std::invalid_argument("not a FAT volume");
    const uint32_t sectors = static_cast<uint32_t>(volume.size() / kSectorSize);
    // The type comes from the cluster count the boot sector describes.
    format::BootRecord boot = format::ParseBootRecord(volume.data());
    boot.sectorsPerCluster = std::max<uint8_t>(1, boot.sectorsPerCluster);
    const FatType type = TypeForClusterCount(boot.ClusterCount());
    Partition p;
    p.slot = slot;
    p.startLba = startLba;
    p.type = PartitionTypeFor(type, sectors);
    p.volume = volume;
    return BuildMbrDisk({p});
}

}  // namespace kestra::image
