#include "format/dir_entry.h"

#include <cstring>

#include "format/little_endian.h"

namespace kestra::format {
namespace {

constexpr int kCreateTime = 14;
constexpr int kCreateDate = 16;
constexpr int kAccessDate = 18;
constexpr int kWriteTime = 22;
constexpr int kWriteDate = 24;
constexpr int kSize = 28;

}  // namespace

uint32_t DirEntry::StartCluster(bool fat32) const {
    const uint32_t low = Le16(p_ + kStartLowAt);
    return fat32 ? low | (uint32_t{Le16(p_ + kStartHighAt)} << 16) : low;
}

uint32_t DirEntry::Size() const {
    return Le32(p_ + kSize);
}
uint16_t DirEntry::CreateTime() const {
    return Le16(p_ + kCreateTime);
}
uint16_t DirEntry::CreateDate() const {
    return Le16(p_ + kCreateDate);
}
uint16_t DirEntry::AccessDate() const {
    return Le16(p_ + kAccessDate);
}
uint16_t DirEntry::WriteTime() const {
    return Le16(p_ + kWriteTime);
}
uint16_t DirEntry::WriteDate() const {
    return Le16(p_ + kWriteDate);
}

void DirEntryWriter::SetName(const uint8_t* name11) {
    std::memcpy(p_, name11, 11);
}

void DirEntryWriter::SetStartCluster(uint32_t cluster, bool fat32) {
    PutLe16(p_ + kStartLowAt, cluster & 0xFFFF);
    if (fat32) PutLe16(p_ + kStartHighAt, cluster >> 16);
}

void DirEntryWriter::SetSize(uint32_t size) {
    PutLe32(p_ + kSize, size);
}
void DirEntryWriter::SetCreateTime(uint16_t time) {
    PutLe16(p_ + kCreateTime, time);
}
void DirEntryWriter::SetCreateDate(uint16_t date) {
    PutLe16(p_ + kCreateDate, date);
}
void DirEntryWriter::SetAccessDate(uint16_t date) {
    PutLe16(p_ + kAccessDate, date);
}
void DirEntryWriter::SetWriteTime(uint16_t time) {
    PutLe16(p_ + kWriteTime, time);
}
void DirEntryWriter::SetWriteDate(uint16_t date) {
    PutLe16(p_ + kWriteDate, date);
}

}  // namespace kestra::format
