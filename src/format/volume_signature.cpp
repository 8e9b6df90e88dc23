#include "format/volume_signature.h"

#include <algorithm>
#include <cstring>

#include "format/boot_sector.h"
#include "format/little_endian.h"
#include "format/sector_size.h"

namespace kestra::format {
namespace {

bool PowerOfTwo(uint32_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

// `text` at byte `at` of the head, when the head reaches that far.
bool Has(const uint8_t* head, size_t size, size_t at, const char* text) {
    const size_t n = std::strlen(text);
    return at + n <= size && std::memcmp(head + at, text, n) == 0;
}

std::string ExtKind(const uint8_t* super) {
    const uint32_t compat = Le32(super + 92);
    const uint32_t incompat = Le32(super + 96);
    if (incompat & 0x2C0)
        return "it holds an ext4 file system";                // extents, 64-bit, flexible groups
    if (compat & 0x4) return "it holds an ext3 file system";  // a journal
    return "it holds an ext2 file system";
}

// The first partition of a classic partition table: a FAT one if any, else
// any used one; 0 when the slots do not read as a partition table.
int MbrPartition(const uint8_t* mbr, bool& gpt) {
    gpt = false;
    if (!HasPartitionSlots(mbr)) return 0;
    int first = 0;
    int firstFat = 0;
    for (int slot = 0; slot < 4; ++slot) {
        const PartitionSlot e = ReadPartitionSlot(mbr, slot + 1);
        const uint8_t type = e.type;
        if (type == 0 || e.count == 0) continue;
        if (type == 0xEE) gpt = true;
        if (first == 0) first = slot + 1;
        const bool fat = type == 0x01 || type == 0x04 || type == 0x06 || type == 0x0B ||
                         type == 0x0C || type == 0x0E;
        if (fat && firstFat == 0) firstFat = slot + 1;
    }
    return firstFat != 0 ? firstFat : first;
}

}  // namespace

PartitionSlot ReadPartitionSlot(const uint8_t* mbr, int number) {
    const uint8_t* e = mbr + kPartitionTable + kPartitionSlotBytes * (number - 1);
    return {e[0], e[4], Le32(e + 8), Le32(e + 12)};
}

bool HasPartitionSlots(const uint8_t* mbr) {
    if (mbr[bpb::kSignature] != 0x55 || mbr[bpb::kSignature + 1] != 0xAA) return false;
    for (int slot = 1; slot <= 4; ++slot) {
        const uint8_t status = ReadPartitionSlot(mbr, slot).status;
        if (status != 0 && status != 0x80) return false;
    }
    return true;
}

bool HasFatBootFields(const uint8_t* s) {
    const uint16_t bytes = Le16(s + bpb::kBytesPerSector);
    return bytes >= 512 && bytes <= 4096 && PowerOfTwo(bytes) &&
           PowerOfTwo(s[bpb::kSectorsPerCluster]) && Le16(s + bpb::kReservedSectors) != 0 &&
           s[bpb::kNumberOfFats] != 0;
}

Signature IdentifyVolume(const uint8_t* head, size_t size) {
    if (size < kSectorSize) return {"it is shorter than one sector", 0};
    if (Has(head, size, 3, "NTFS    ")) return {"it holds an NTFS file system", 0};
    if (Has(head, size, 3, "EXFAT   ")) return {"it holds an exFAT file system", 0};
    if (size >= 1082 && Le16(head + 1080) == 0xEF53) return {ExtKind(head + 1024), 0};
    if (Has(head, size, 32769, "CD001")) return {"it holds an ISO 9660 (CD/DVD) file system", 0};
    if (Has(head, size, 0, "XFSB")) return {"it holds an XFS file system", 0};
    if (Has(head, size, 65600, "_BHRfS_M")) return {"it holds a Btrfs file system", 0};
    if (Has(head, size, 0, "LUKS\xBA\xBE")) return {"it holds a LUKS encrypted volume", 0};
    if (Has(head, size, 0, "hsqs")) return {"it holds a SquashFS file system", 0};
    if (Has(head, size, 4086, "SWAPSPACE2") || Has(head, size, 4086, "SWAP-SPACE")) {
        return {"it holds a Linux swap area", 0};
    }
    bool gpt = false;
    const int partition = MbrPartition(head, gpt);
    if (gpt) return {"it starts with a GPT partition table (open the partition's own device)", 0};
    if (partition != 0) return {"it starts with a partition table", partition};
    if (std::all_of(head, head + kSectorSize, [](uint8_t b) { return b == 0; })) {
        return {"sector 0 is all zeros (an empty or unformatted volume)", 0};
    }
    return {"sector 0 holds no FAT boot sector and no known signature", 0};
}

}  // namespace kestra::format
