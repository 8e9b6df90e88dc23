#include "image/fat_image.h"

#include <stdexcept>

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
    const uint64_t base = uint64_t{layout_.FatStartSector(copy)} * 512;
    uint64_t within = 0;
    switch (layout_.type) {
        case FatType::kFat12:
            within = cluster + cluster / 2;
            break;
        case FatType::kFat16:
            within = uint64_t{cluster} * 2;
            break;
        case FatType::kFat32:
            within = uint64_t{cluster} * 4;
            break;
    }
    const uint64_t width = layout_.type == FatType::kFat32 ? 4 : 2;
    if (within + width > uint64_t{layout_.fatSectors} * 512)
        throw std::out_of_range("cluster outside the FAT");
    return base + within;
}

uint32_t FatImage::FatEntry(uint32_t cluster, int copy) const {
    const uint64_t at = FatEntryOffset(cluster, copy);
    switch (layout_.type) {
        case FatType::kFat12: {
            const uint16_t pair = Get16(bytes_, at);
            return (cluster & 1) ? pair >> 4 : pair & 0xFFF;
        }
        case FatType::kFat16:
            return Get16(bytes_, at);
        case FatType::kFat32:
            return Get32(bytes_, at) & 0x0FFFFFFF;
    }
    return 0;
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
    const uint64_t at = FatEntryOffset(cluster, copy);
    switch (layout_.type) {
        case FatType::kFat12: {
            uint16_t pair = Get16(bytes_, at);
            // Two entries share three bytes: odd clusters own the high 12 bits.
            if (cluster & 1)
                pair = static_cast<uint16_t>((pair & 0x000F) | ((value & 0xFFF) << 4));
            else
                pair = static_cast<uint16_t>((pair & 0xF000) | (value & 0xFFF));
            Put16(bytes_, at, pair);
            break;
        }
        case FatType::kFat16:
            Put16(bytes_, at, static_cast<uint16_t>(value));
            break;
        case FatType::kFat32:
            // The top four bits are reserved and kept as found.
            Put32(bytes_, at, (Get32(bytes_, at) & 0xF0000000) | (value & 0x0FFFFFFF));
            break;
    }
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
