#include "image/fat_image.h"

#include <stdexcept>

#include "format/fat_entry.h"
#include "image/boot_sector.h"
#include "platform/image_file.h"

namespace kestra::image {

std::vector<uint32_t> ClustersOf(const Runs& runs) {
    std::vector<uint32_t> out;
    for (const Run& r : runs)
        for (uint32_t i = 0; i < r.length; ++i)
            out.push_back(r.start + i);
    return out;
}

FatImage::FatImage(Layout layout, std::vector<uint8_t> bytes, std::vector<NodeInfo> nodes,
                   std::vector<ErasedInfo> erased)
    : layout_(layout),
      bytes_(std::move(bytes)),
      nodes_(std::move(nodes)),
      erased_(std::move(erased)) {}

const NodeInfo& FatImage::Node(NodeId id) const {
    if (id >= nodes_.size()) throw std::out_of_range("no such node");
    return nodes_[id];
}

NodeId FatImage::Find(std::string_view path) const {
    for (NodeId id = 0; id < nodes_.size(); ++id)
        if (nodes_[id].path == path) return id;
    throw std::out_of_range("no node at " + std::string(path));
}

std::vector<NodeId> FatImage::Files() const {
    std::vector<NodeId> out;
    for (NodeId id = 0; id < nodes_.size(); ++id)
        if (!nodes_[id].isFolder) out.push_back(id);
    return out;
}

uint64_t FatImage::FatEntryOffset(uint32_t cluster, int copy) const {
    if (copy < 0 || static_cast<uint32_t>(copy) >= layout_.numFats)
        throw std::out_of_range("no such FAT copy");
    const uint64_t base = uint64_t{layout_.FatStartSector(copy)} * format::kSectorSize;
    const uint64_t within = format::FatEntryOffset(FormatType(layout_.type), cluster);
    const uint64_t width = layout_.type == FatType::kFat32 ? 4 : 2;
    if (within + width > uint64_t{layout_.fatSectors} * format::kSectorSize)
        throw std::out_of_range("cluster outside the FAT");
    return base + within;
}

uint32_t FatImage::FatEntry(uint32_t cluster, int copy) const {
    const uint64_t first = uint64_t{layout_.FatStartSector(copy)} * format::kSectorSize;
    FatEntryOffset(cluster, copy);  // throws outside the FAT
    return format::ReadFatEntry(&bytes_.at(first), FormatType(layout_.type), cluster);
}

void FatImage::SetFatEntry(uint32_t cluster, uint32_t value, int copy) {
    if (copy == kAllCopies) {
        for (uint32_t c = 0; c < layout_.numFats; ++c)
            PutFatEntry(cluster, value, c);
    } else {
        PutFatEntry(cluster, value, copy);
    }
    if (copy == kAllCopies || copy == 0) RefreshFsInfo();
}

void FatImage::PutFatEntry(uint32_t cluster, uint32_t value, int copy) {
    const uint64_t first = uint64_t{layout_.FatStartSector(copy)} * format::kSectorSize;
    FatEntryOffset(cluster, copy);  // throws outside the FAT
    format::WriteFatEntry(&bytes_.at(first), FormatType(layout_.type), cluster, value);
}

std::vector<uint32_t> FatImage::Chain(uint32_t start, int copy) const {
    std::vector<uint32_t> out;
    std::vector<bool> seen(uint64_t{layout_.MaxCluster()} + 1);
    uint32_t c = start;
    while (c >= 2 && c <= layout_.MaxCluster() && !seen[c]) {
        seen[c] = true;
        out.push_back(c);
        c = FatEntry(c, copy);
    }
    return out;
}

uint32_t FatImage::FreeClusterCount(int copy) const {
    uint32_t free = 0;
    for (uint32_t c = 2; c <= layout_.MaxCluster(); ++c)
        if (FatEntry(c, copy) == 0) ++free;
    return free;
}

void FatImage::RefreshFsInfo() {
    if (layout_.type != FatType::kFat32) return;
    uint32_t next = 0xFFFFFFFF;
    for (uint32_t c = 2; c <= layout_.MaxCluster(); ++c) {
        if (FatEntry(c, 0) == 0) {
            next = c;
            break;
        }
    }
    WriteFsInfoCounts(bytes_, FreeClusterCount(0), next);
}

void FatImage::SetFsInfo(uint32_t freeCount, uint32_t nextFree) {
    if (layout_.type != FatType::kFat32) throw std::logic_error("FSInfo exists on FAT32 only");
    WriteFsInfoCounts(bytes_, freeCount, nextFree);
}

uint8_t* FatImage::EntryBytes(NodeId id) {
    const NodeInfo& n = Node(id);
    if (id == kRootNode) throw std::logic_error("the root folder has no entry");
    return &bytes_.at(n.entryOffset);
}

std::string FatImage::WriteTo(const std::string& path) const {
    return platform::WriteImageFile(path, bytes_);
}

std::unique_ptr<platform::MemoryDevice> FatImage::ToDevice() const {
    return std::make_unique<platform::MemoryDevice>(bytes_);
}

}  // namespace kestra::image
