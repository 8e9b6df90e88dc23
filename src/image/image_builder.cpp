#include "image/image_builder.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>

#include "image/boot_sector.h"

namespace kestra::image {

namespace {

struct Names {
    ShortName shortName{};
    bool longName = false;
};

std::string Upper(std::string s) {
    for (auto& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

uint32_t Total(const Runs& runs) {
    uint32_t n = 0;
    for (const Run& r : runs)
        n += r.length;
    return n;
}

void Append(Runs& runs, uint32_t cluster) {
    if (!runs.empty() && runs.back().start + runs.back().length == cluster)
        ++runs.back().length;
    else
        runs.push_back({cluster, 1});
}

RawEntry DotEntry(bool dotDot, uint32_t cluster) {
    ShortName n;
    n.fill(' ');
    n[0] = '.';
    if (dotDot) n[1] = '.';
    return ShortEntry(n, format::kAttrDirectory, cluster, 0);
}

}  // namespace

struct ImageBuilder::Plan {
    Layout layout;
    std::vector<Names> nodeNames;
    std::vector<Names> erasedNames;
    std::vector<uint32_t> slots;  // per folder: 32-byte entries it holds
    std::vector<Runs> runs;
    std::vector<NodeInfo> info;
    std::vector<ErasedInfo> erasedInfo;
};

ImageBuilder::ImageBuilder(ImageOptions opts) : opts_(std::move(opts)) {
    NodeRequest root;
    root.isFolder = true;
    nodes_.push_back(std::move(root));
}

NodeId ImageBuilder::AddNode(NodeId parent, NodeRequest node) {
    if (parent >= nodes_.size() || !nodes_[parent].isFolder)
        throw std::invalid_argument("parent is not a folder");
    // Characters no long name may hold; catching them here beats a puzzling tool error.
    const bool badChar = std::any_of(node.name.begin(), node.name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || std::strchr("\"*/:<>?\\|", c) != nullptr;
    });
    if (node.name.empty() || badChar || node.name == "." || node.name == "..")
        throw std::invalid_argument("bad name: '" + node.name + "'");
    const std::string key = Upper(node.name);
    for (const Item& item : nodes_[parent].items)
        if (!item.erased && Upper(nodes_[item.index].name) == key)
            throw std::invalid_argument("duplicate name in folder: " + node.name);
    node.parent = parent;
    const NodeId id = static_cast<NodeId>(nodes_.size());
    nodes_.push_back(std::move(node));
    nodes_[parent].items.push_back({false, id});
    return id;
}

NodeId ImageBuilder::AddFolder(NodeId parent, std::string name, Runs runs, EntryOptions options) {
    NodeRequest n;
    n.name = std::move(name);
    n.isFolder = true;
    n.runs = std::move(runs);
    n.options = std::move(options);
    return AddNode(parent, std::move(n));
}

NodeId ImageBuilder::AddFile(NodeId parent, std::string name, std::vector<uint8_t> content,
                             Runs runs, EntryOptions options) {
    NodeRequest n;
    n.name = std::move(name);
    n.content = std::move(content);
    n.runs = std::move(runs);
    n.options = std::move(options);
    return AddNode(parent, std::move(n));
}

void ImageBuilder::AddErased(NodeId parent, ErasedEntry entry) {
    if (parent >= nodes_.size() || !nodes_[parent].isFolder)
        throw std::invalid_argument("parent is not a folder");
    erased_.push_back({parent, std::move(entry)});
    nodes_[parent].items.push_back({true, static_cast<uint32_t>(erased_.size() - 1)});
}

void ImageBuilder::SetRootRuns(Runs runs) {
    nodes_[kRootNode].runs = std::move(runs);
}

void ImageBuilder::PlanNames(Plan& plan) const {
    plan.nodeNames.assign(nodes_.size(), {});
    plan.erasedNames.assign(erased_.size(), {});
    plan.slots.assign(nodes_.size(), 0);
    using Mode = EntryOptions::LongName;
    for (NodeId f = 0; f < nodes_.size(); ++f) {
        if (!nodes_[f].isFolder) continue;
        std::set<ShortName> used;
        auto take = [&](const ShortName& s, const std::string& who) {
            if (!used.insert(s).second)
                throw std::invalid_argument("8.3 name " + UnpackShortName(s) + " used twice (" +
                                            who + ")");
        };
        // Explicit and plain 8.3 names first, so generated aliases avoid them.
        for (const Item& item : nodes_[f].items) {
            if (item.erased) continue;
            const NodeRequest& n = nodes_[item.index];
            Names& names = plan.nodeNames[item.index];
            const bool plain = IsPlainShortName(n.name);
            names.longName = n.options.longName == Mode::kAlways || !plain ||
                             (!n.options.shortName.empty() && n.options.shortName != n.name);
            if (names.longName && n.options.longName == Mode::kNever)
                throw std::invalid_argument(n.name + " is not an 8.3 name");
            if (!n.options.shortName.empty()) {
                names.shortName = PackShortName(n.options.shortName);
                take(names.shortName, n.name);
            } else if (plain && n.options.longName != Mode::kAlways) {
                names.shortName = PackShortName(n.name);
                take(names.shortName, n.name);
            }
        }
        auto isTaken = [&](const ShortName& s) { return used.count(s) > 0; };
        uint32_t slots = f == kRootNode ? (opts_.label.empty() ? 0 : 1) : 2;
        for (const Item& item : nodes_[f].items) {
            if (item.erased) {
                const std::string& name = erased_[item.index].entry.name;
                Names& names = plan.erasedNames[item.index];
                names.longName = !IsPlainShortName(name);
                names.shortName = names.longName ? MakeAlias(name, isTaken) : PackShortName(name);
                slots += 1 + (names.longName ? LongNameSlots(name, 0).size() : 0);
                continue;
            }
            const NodeRequest& n = nodes_[item.index];
            Names& names = plan.nodeNames[item.index];
            if (names.shortName[0] == 0) {
                names.shortName = MakeAlias(n.name, isTaken);
                take(names.shortName, n.name);
            }
            slots += 1 + (names.longName ? LongNameSlots(n.name, 0).size() : 0);
        }
        plan.slots[f] = slots;
    }
}

void ImageBuilder::PlanClusters(Plan& plan) const {
    const Layout& l = plan.layout;
    const uint32_t cb = l.ClusterBytes();
    const bool fixedRoot = l.type != FatType::kFat32;
    std::vector<uint32_t> needed(nodes_.size(), 0);
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        const NodeRequest& n = nodes_[id];
        if (!n.isFolder) {
            needed[id] = static_cast<uint32_t>((n.content.size() + cb - 1) / cb);
        } else if (id == kRootNode && fixedRoot) {
            if (plan.slots[id] > l.rootEntries)
                throw std::invalid_argument(
                    "root folder holds more entries than the volume allows");
            if (!n.runs.empty()) throw std::invalid_argument("FAT12/16 root has no clusters");
        } else {
            needed[id] = std::max<uint32_t>(1, (plan.slots[id] * 32 + cb - 1) / cb);
        }
    }
    std::vector<int64_t> owner(uint64_t{l.MaxCluster()} + 1, -1);
    plan.runs.assign(nodes_.size(), {});
    auto claim = [&](NodeId id, uint32_t cluster) {
        if (cluster < 2 || cluster > l.MaxCluster())
            throw std::invalid_argument("cluster " + std::to_string(cluster) +
                                        " is outside the volume (last is " +
                                        std::to_string(l.MaxCluster()) + ")");
        if (owner[cluster] >= 0)
            throw std::invalid_argument("cluster " + std::to_string(cluster) + " given to both '" +
                                        nodes_[owner[cluster]].name + "' and '" + nodes_[id].name +
                                        "'");
        owner[cluster] = id;
        Append(plan.runs[id], cluster);
    };
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        const NodeRequest& n = nodes_[id];
        if (n.runs.empty()) continue;
        const uint32_t given = Total(n.runs);
        if (n.isFolder ? given < needed[id] : given != needed[id])
            throw std::invalid_argument("runs of '" + (id ? n.name : "/") + "' hold " +
                                        std::to_string(given) + " clusters; it needs " +
                                        std::to_string(needed[id]));
        for (const Run& r : n.runs) {
            if (r.length == 0) throw std::invalid_argument("empty run for '" + n.name + "'");
            for (uint32_t i = 0; i < r.length; ++i)
                claim(id, r.start + i);
        }
    }
    if (!fixedRoot && nodes_[kRootNode].runs.empty()) claim(kRootNode, l.rootCluster);

    uint32_t cursor = 2;
    auto firstFree = [&]() {
        while (cursor <= l.MaxCluster() && owner[cursor] >= 0)
            ++cursor;
        if (cursor > l.MaxCluster()) throw std::invalid_argument("volume is full");
        return cursor;
    };
    // Pre-order walk: a folder takes its clusters before its contents do.
    std::vector<NodeId> stack{kRootNode};
    while (!stack.empty()) {
        const NodeId id = stack.back();
        stack.pop_back();
        if (nodes_[id].runs.empty())
            while (Total(plan.runs[id]) < needed[id])
                claim(id, firstFree());
        const auto& items = nodes_[id].items;
        for (auto it = items.rbegin(); it != items.rend(); ++it)
            if (!it->erased) stack.push_back(it->index);
    }
}

void ImageBuilder::WriteFolders(Plan& plan, std::vector<uint8_t>& bytes) const {
    const Layout& l = plan.layout;
    const uint32_t cb = l.ClusterBytes();
    for (NodeId f = 0; f < nodes_.size(); ++f) {
        if (!nodes_[f].isFolder) continue;
        const std::vector<uint32_t> clusters = ClustersOf(plan.runs[f]);
        const bool fixedRoot = f == kRootNode && l.type != FatType::kFat32;
        auto offsetOf = [&](uint32_t slot) -> uint64_t {
            const uint64_t at = uint64_t{slot} * 32;
            if (fixedRoot) return uint64_t{l.firstRootSector} * format::kSectorSize + at;
            return l.ClusterSector(clusters.at(at / cb)) * format::kSectorSize + at % cb;
        };
        uint32_t slot = 0;
        auto put = [&](const RawEntry& e) {
            const uint64_t at = offsetOf(slot++);
            std::memcpy(&bytes.at(at), e.data(), e.size());
            return at;
        };
        if (f != kRootNode) {
            // ".." of a folder in the root says 0, whatever the root's cluster.
            const NodeId parent = nodes_[f].parent;
            put(DotEntry(false, clusters.front()));
            put(DotEntry(true, parent == kRootNode ? 0 : plan.runs[parent].front().start));
        } else if (!opts_.label.empty()) {
            put(ShortEntry(PackLabel(opts_.label), format::kAttrVolumeLabel, 0, 0));
        }
        for (const Item& item : nodes_[f].items) {
            const bool erased = item.erased;
            const Names& names = erased ? plan.erasedNames[item.index] : plan.nodeNames[item.index];
            const std::string& name =
                erased ? erased_[item.index].entry.name : nodes_[item.index].name;
            std::vector<uint64_t> offsets;
            if (names.longName) {
                for (RawEntry e : LongNameSlots(name, ShortNameChecksum(names.shortName))) {
                    if (erased) e[0] = format::kErasedMark;
                    offsets.push_back(put(e));
                }
            }
            if (erased) {
                const ErasedEntry& e = erased_[item.index].entry;
                RawEntry raw = ShortEntry(names.shortName,
                                          e.folder ? format::kAttrDirectory : format::kAttrArchive,
                                          e.startCluster, e.folder ? 0 : e.size);
                raw[0] = format::kErasedMark;
                offsets.push_back(put(raw));
                plan.erasedInfo.push_back({f, name, offsets.front(), offsets.back(), offsets});
                continue;
            }
            const NodeRequest& n = nodes_[item.index];
            NodeInfo& info = plan.info[item.index];
            const uint8_t attr =
                n.options.attributes | (n.isFolder ? format::kAttrDirectory : format::kAttrArchive);
            const uint32_t size = n.isFolder ? 0 : static_cast<uint32_t>(n.content.size());
            offsets.push_back(put(ShortEntry(names.shortName, attr, info.FirstCluster(), size)));
            info.firstSlotOffset = offsets.front();
            info.entryOffset = offsets.back();
            info.slotOffsets = std::move(offsets);
            info.attributes = attr;
            info.shortName = UnpackShortName(names.shortName);
            info.hasLongName = names.longName;
        }
    }
}

FatImage ImageBuilder::Build() const {
    Plan plan;
    plan.layout = ComputeLayout(opts_);
    Layout& l = plan.layout;
    if (l.type == FatType::kFat32 && !nodes_[kRootNode].runs.empty())
        l.rootCluster = nodes_[kRootNode].runs.front().start;
    PlanNames(plan);
    PlanClusters(plan);

    plan.info.resize(nodes_.size());
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        const NodeRequest& n = nodes_[id];
        NodeInfo& info = plan.info[id];
        info.parent = n.parent;
        info.name = n.name;
        info.isFolder = n.isFolder;
        info.runs = plan.runs[id];
        info.content = n.content;
        info.path = id == kRootNode
                        ? "/"
                        : (n.parent == kRootNode ? "" : plan.info[n.parent].path) + "/" + n.name;
        for (const Item& item : n.items)
            if (!item.erased) info.children.push_back(item.index);
    }

    std::vector<uint8_t> bytes(uint64_t{l.totalSectors} * format::kSectorSize);
    WriteBootRegion(opts_, l, bytes);
    WriteFolders(plan, bytes);
    const uint32_t cb = l.ClusterBytes();
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        const auto& content = nodes_[id].content;
        const std::vector<uint32_t> clusters = ClustersOf(plan.runs[id]);
        for (size_t i = 0; i < clusters.size() && !nodes_[id].isFolder; ++i) {
            const size_t from = i * cb;
            const size_t n = std::min<size_t>(cb, content.size() - from);
            std::memcpy(&bytes.at(l.ClusterSector(clusters[i]) * format::kSectorSize),
                        content.data() + from, n);
        }
    }

    FatImage image(l, std::move(bytes), std::move(plan.info), std::move(plan.erasedInfo));
    for (uint32_t copy = 0; copy < l.numFats; ++copy) {
        image.PutFatEntry(0, (l.EndOfChain() & ~0xFFu) | opts_.media, copy);
        image.PutFatEntry(1, l.EndOfChain(), copy);
        for (NodeId id = 0; id < nodes_.size(); ++id) {
            const std::vector<uint32_t> chain = image.Node(id).Clusters();
            for (size_t i = 0; i < chain.size(); ++i)
                image.PutFatEntry(chain[i], i + 1 < chain.size() ? chain[i + 1] : l.EndOfChain(),
                                  copy);
        }
    }
    image.RefreshFsInfo();
    return image;
}

std::vector<uint8_t> SeededBytes(uint32_t seed, size_t size) {
    std::vector<uint8_t> out(size);
    uint64_t x = 0x9E3779B97F4A7C15ull ^ (uint64_t{seed} * 0xBF58476D1CE4E5B9ull + 1);
    for (auto& b : out) {
        // xorshift64: cheap and the same everywhere.
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<uint8_t>(x >> 32);
    }
    return out;
}

}  // namespace kestra::image
