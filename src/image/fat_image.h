#pragma once

// A built FAT volume and what the builder placed in it.

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "image/fat_layout.h"
#include "platform/memory_device.h"

namespace kestra::image {

using NodeId = uint32_t;
constexpr NodeId kRootNode = 0;
constexpr int kAllCopies = -1;

// A stretch of consecutive clusters inside one chain.
struct Run {
    uint32_t start = 0;
    uint32_t length = 0;
    bool operator==(const Run&) const = default;
};
using Runs = std::vector<Run>;

// Lets test failures show runs as {start,length}.
inline void PrintTo(const Run& run, std::ostream* os) {
    *os << "{" << run.start << "," << run.length << "}";
}

std::vector<uint32_t> ClustersOf(const Runs& runs);

// What the builder placed for one file or folder.
struct NodeInfo {
    NodeId parent = kRootNode;
    std::string name;       // as given; the long name when there is one
    std::string path;       // "/DOCS/Long file name.txt"; "/" for the root
    std::string shortName;  // "LONGFI~1.TXT"
    bool isFolder = false;
    bool hasLongName = false;
    uint8_t attributes = 0;
    Runs runs;                     // the chain as built, in order
    std::vector<uint8_t> content;  // files only
    uint64_t entryOffset = 0;      // byte offset of the 8.3 entry; 0 for the root
    uint64_t firstSlotOffset = 0;  // first long-name slot; == entryOffset without one
    // Every 32-byte slot of the entry set in order, the 8.3 entry last. A set may
    // straddle two clusters of a fragmented folder, so these need not be adjacent.
    std::vector<uint64_t> slotOffsets;
    std::vector<NodeId> children;

    uint32_t FirstCluster() const { return runs.empty() ? 0 : runs.front().start; }
    std::vector<uint32_t> Clusters() const { return ClustersOf(runs); }
};

// An erased entry the builder wrote (first byte 0xE5 in every slot of its set).
struct ErasedInfo {
    NodeId folder = kRootNode;
    std::string name;
    uint64_t firstSlotOffset = 0;
    uint64_t entryOffset = 0;
    std::vector<uint64_t> slotOffsets;
};

// A built volume: its bytes plus a record of where everything went. The FAT
// accessors and entry pointers let damage helpers change it after building.
class FatImage {
  public:
    FatImage(Layout layout, std::vector<uint8_t> bytes, std::vector<NodeInfo> nodes,
             std::vector<ErasedInfo> erased);

    const Layout& layout() const { return layout_; }
    FatType type() const { return layout_.type; }
    std::vector<uint8_t>& bytes() { return bytes_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

    size_t NodeCount() const { return nodes_.size(); }
    const NodeInfo& Node(NodeId id) const;
    // Path with long names, "/" separated; throws std::out_of_range when absent.
    NodeId Find(std::string_view path) const;
    std::vector<NodeId> Files() const;
    const std::vector<ErasedInfo>& Erased() const { return erased_; }

    uint64_t ClusterSector(uint32_t cluster) const { return layout_.ClusterSector(cluster); }
    uint64_t ClusterOffset(uint32_t cluster) const {
        return ClusterSector(cluster) * format::kSectorSize;
    }

    uint32_t FatEntry(uint32_t cluster, int copy = 0) const;
    // Also keeps the FAT32 free count in step with copy 0, so the only damage
    // is the one asked for; call SetFsInfo afterwards to make it stale on purpose.
    void SetFatEntry(uint32_t cluster, uint32_t value, int copy = kAllCopies);
    // Follows a chain in one copy until an end mark, a free or bad entry, a
    // number outside the volume, or a repeat.
    std::vector<uint32_t> Chain(uint32_t start, int copy = 0) const;
    uint32_t FreeClusterCount(int copy = 0) const;

    // FAT32 only: recount free clusters into FSInfo (and its backup).
    void RefreshFsInfo();
    void SetFsInfo(uint32_t freeCount, uint32_t nextFree);

    // The 32 bytes of a node's 8.3 entry (not the root).
    uint8_t* EntryBytes(NodeId id);

    // Empty on success, else why the file could not be written.
    std::string WriteTo(const std::string& path) const;
    std::unique_ptr<platform::MemoryDevice> ToDevice() const;

  private:
    friend class ImageBuilder;
    void PutFatEntry(uint32_t cluster, uint32_t value, int copy);
    uint64_t FatEntryOffset(uint32_t cluster, int copy) const;

    Layout layout_;
    std::vector<uint8_t> bytes_;
    std::vector<NodeInfo> nodes_;
    std::vector<ErasedInfo> erased_;
};

}  // namespace kestra::image
