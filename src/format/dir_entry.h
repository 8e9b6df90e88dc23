#pragma once

// A 32-byte directory entry read and written in place: the one decoder of its fields.

#include <cstdint>

#include "format/sector_size.h"

namespace kestra::format {

inline constexpr uint32_t kDirEntrySize = 32;
inline constexpr uint32_t kEntriesPerSector = kSectorSize / kDirEntrySize;

// Byte offset of entry `entryNo` of a folder inside the sector that holds it.
inline constexpr uint32_t EntryOffsetInSector(uint32_t entryNo) {
    return (entryNo % kEntriesPerSector) * kDirEntrySize;
}

// First-byte marks: the end of the folder, an erased entry, and the byte that
// stands for a name starting with E5h.
inline constexpr uint8_t kEndMark = 0x00;
inline constexpr uint8_t kErasedMark = 0xE5;
inline constexpr uint8_t kE5Stand = 0x05;

// Where the fields a viewer marks lie.
inline constexpr int kAttrAt = 11;
inline constexpr int kStartHighAt = 20;
inline constexpr int kStartLowAt = 26;

// A long-name slot's 13 UTF-16 characters.
inline constexpr int kLongNameCharAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

// Attribute bits as stored in byte 11.
enum Attr : uint8_t {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrVolumeLabel = 0x08,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
    // Read-only, hidden, system and label together mark a long-name slot.
    kAttrLongName = 0x0F,
};

// Byte 12: the 8.3 name's base or extension is shown in lower case.
inline constexpr uint8_t kLowerBase = 0x08;
inline constexpr uint8_t kLowerExt = 0x10;

// The entry's fields; the bytes stay the caller's.
class DirEntry {
  public:
    explicit DirEntry(const uint8_t* bytes) : p_(bytes) {}

    const uint8_t* Name() const { return p_; }  // 11 bytes, as stored
    uint8_t First() const { return p_[0]; }
    uint8_t Attributes() const { return p_[kAttrAt]; }
    bool Has(Attr bit) const { return (p_[kAttrAt] & bit) != 0; }
    bool IsFolder() const { return Has(kAttrDirectory); }
    // The upper two bits are reserved: a long-name slot may carry them.
    bool IsLongName() const { return (p_[kAttrAt] & 0x3F) == kAttrLongName; }
    uint8_t CaseFlags() const { return p_[12]; }
    // The high word counts on FAT32 only; FAT12/16 keep other data there.
    uint32_t StartCluster(bool fat32) const;
    uint32_t Size() const;
    uint16_t CreateTime() const;
    uint16_t CreateDate() const;
    uint16_t AccessDate() const;
    uint16_t WriteTime() const;
    uint16_t WriteDate() const;

  private:
    const uint8_t* p_;
};

// Setters of one field each: every other byte of the entry stays as it was.
class DirEntryWriter {
  public:
    explicit DirEntryWriter(uint8_t* bytes) : p_(bytes) {}

    void SetName(const uint8_t* name11);
    void SetAttributes(uint8_t attributes) { p_[kAttrAt] = attributes; }
    void SetStartCluster(uint32_t cluster, bool fat32);
    void SetSize(uint32_t size);
    void SetCreateTime(uint16_t time);
    void SetCreateDate(uint16_t date);
    void SetAccessDate(uint16_t date);
    void SetWriteTime(uint16_t time);
    void SetWriteDate(uint16_t date);

  private:
    uint8_t* p_;
};

}  // namespace kestra::format
