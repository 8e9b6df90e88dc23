#pragma once

// Builds FAT volumes for the demo, the tests and the benchmarks.

#include <cstdint>
#include <string>
#include <vector>

#include "image/dir_entry.h"
#include "image/fat_image.h"
#include "image/fat_layout.h"

namespace kestra::image {

struct EntryOptions {
    enum class LongName { kAuto, kAlways, kNever };
    // kAuto: long-name entries only when the name is not a plain 8.3 name.
    LongName longName = LongName::kAuto;
    std::string shortName;   // explicit alias "NAME.EXT"; empty: generated (NAME~1.EXT)
    uint8_t attributes = 0;  // added format::Attr bits: hidden, system, read-only...

    static EntryOptions WithAttributes(uint8_t bits) {
        EntryOptions o;
        o.attributes = bits;
        return o;
    }
    static EntryOptions WithAlias(std::string alias) {
        EntryOptions o;
        o.shortName = std::move(alias);
        return o;
    }
    static EntryOptions Named(LongName mode) {
        EntryOptions o;
        o.longName = mode;
        return o;
    }
};

// An erased entry written where it is added among its folder's entries. A long
// name gives an erased long-name set in front of the erased 8.3 entry.
struct ErasedEntry {
    std::string name;
    bool folder = false;
    uint32_t startCluster = 0;  // left in the entry, as deleting does
    uint32_t size = 0;
};

// Describes a volume, then writes it in one go with Build(). Clusters given as
// runs are reserved first; everything else gets first-free clusters in the
// order it was added (a folder before its contents). Misuse throws
// std::invalid_argument with the reason.
class ImageBuilder {
  public:
    explicit ImageBuilder(ImageOptions opts = {});

    NodeId Root() const { return kRootNode; }
    const ImageOptions& options() const { return opts_; }

    // Folders may be given more clusters than their entries need, which is how
    // a test makes a folder span several clusters without many files.
    NodeId AddFolder(NodeId parent, std::string name, Runs runs = {}, EntryOptions options = {});
    // Runs must hold exactly the clusters the content needs; empty content is
    // an empty file (start cluster 0, size 0).
    NodeId AddFile(NodeId parent, std::string name, std::vector<uint8_t> content, Runs runs = {},
                   EntryOptions options = {});
    void AddErased(NodeId parent, ErasedEntry entry);
    // FAT32: where the root folder lives (its first run sets the boot sector field).
    void SetRootRuns(Runs runs);

    FatImage Build() const;

  private:
    struct Item {
        bool erased = false;
        uint32_t index = 0;  // node id or index into erased_
    };
    struct NodeRequest {
        NodeId parent = kRootNode;
        std::string name;
        bool isFolder = false;
        std::vector<uint8_t> content;
        Runs runs;
        EntryOptions options;
        std::vector<Item> items;
    };
    struct ErasedRequest {
        NodeId folder = kRootNode;
        ErasedEntry entry;
    };
    struct Plan;

    NodeId AddNode(NodeId parent, NodeRequest node);
    void PlanNames(Plan& plan) const;
    void PlanClusters(Plan& plan) const;
    void WriteFolders(Plan& plan, std::vector<uint8_t>& bytes) const;

    ImageOptions opts_;
    std::vector<NodeRequest> nodes_;
    std::vector<ErasedRequest> erased_;
};

// Deterministic filler: the same seed and size always give the same bytes.
std::vector<uint8_t> SeededBytes(uint32_t seed, size_t size);

}  // namespace kestra::image
