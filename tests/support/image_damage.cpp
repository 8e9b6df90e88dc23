#include "support/image_damage.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "support/image.h"

namespace kestra::testing {

namespace {

uint32_t ClusterAt(const FatImage& image, NodeId node, uint32_t index) {
    const std::vector<uint32_t> clusters = image.Node(node).Clusters();
    if (index >= clusters.size()) throw std::out_of_range("chain is shorter than that");
    return clusters[index];
}

void Put(uint8_t* p, uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        p[i] = (value >> (8 * i)) & 0xFF;
}

}  // namespace

void SetChainLink(FatImage& image, NodeId node, uint32_t index, uint32_t value, int copy) {
    image.SetFatEntry(ClusterAt(image, node, index), value, copy);
}

void LinkTailTo(FatImage& image, NodeId node, uint32_t target) {
    const size_t length = image.Node(node).Clusters().size();
    if (length == 0) throw std::invalid_argument("node has no clusters");
    SetChainLink(image, node, static_cast<uint32_t>(length - 1), target);
}

void TruncateChain(FatImage& image, NodeId node, uint32_t keep) {
    if (keep == 0) throw std::invalid_argument("keep at least one cluster");
    SetChainLink(image, node, keep - 1, image.layout().EndOfChain());
}

void BreakChainAt(FatImage& image, NodeId node, uint32_t index) {
    SetChainLink(image, node, index, 0);
}

void AddLostChain(FatImage& image, const Runs& runs, uint32_t seed) {
    const std::vector<uint32_t> clusters = ClustersOf(runs);
    for (uint32_t c : clusters)
        if (image.FatEntry(c) != 0)
            throw std::invalid_argument("lost chain cluster " + std::to_string(c) + " is in use");
    const uint32_t cb = image.layout().ClusterBytes();
    const std::vector<uint8_t> fill = SeededBytes(seed, size_t{cb} * clusters.size());
    for (size_t i = 0; i < clusters.size(); ++i) {
        std::memcpy(&image.bytes().at(image.ClusterOffset(clusters[i])), fill.data() + i * cb, cb);
        const uint32_t next =
            i + 1 < clusters.size() ? clusters[i + 1] : image.layout().EndOfChain();
        image.SetFatEntry(clusters[i], next);
    }
}

void MarkBad(FatImage& image, uint32_t cluster, int copy) {
    image.SetFatEntry(cluster, image.layout().BadMark(), copy);
}

void MakeCopiesDiffer(FatImage& image, uint32_t cluster, uint32_t value, int copy) {
    if (copy == 0 || copy == kAllCopies) throw std::invalid_argument("pick a copy other than 0");
    if (image.FatEntry(cluster, 0) == value) throw std::invalid_argument("value already in copy 0");
    image.SetFatEntry(cluster, value, copy);
}

void EraseEntry(FatImage& image, NodeId node) {
    image.EntryBytes(node);  // refuses the root
    for (uint64_t at : image.Node(node).slotOffsets)
        image.bytes().at(at) = 0xE5;
}

void SetEntryStartCluster(FatImage& image, NodeId node, uint32_t cluster) {
    uint8_t* e = image.EntryBytes(node);
    Put(e + 20, cluster >> 16, 2);
    Put(e + 26, cluster & 0xFFFF, 2);
}

void SetEntrySize(FatImage& image, NodeId node, uint32_t size) {
    Put(image.EntryBytes(node) + 28, size, 4);
}

void SetEntryAttributes(FatImage& image, NodeId node, uint8_t attributes) {
    image.EntryBytes(node)[11] = attributes;
}

void PutSlotAfter(FatImage& image, NodeId node, uint32_t skip, const std::string& name11,
                  uint8_t attributes) {
    if (name11.size() != 11) throw std::invalid_argument("an 8.3 name has 11 bytes");
    uint8_t* slot = image.EntryBytes(node) + 32 * (1 + skip);
    std::fill_n(slot, 32, 0);
    std::memcpy(slot, name11.data(), 11);
    slot[11] = attributes;
}

}  // namespace kestra::testing
