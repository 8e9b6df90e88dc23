#include "image/random_volume.h"

#include <array>

#include <algorithm>
#include <bit>
#include <set>
#include <stdexcept>

namespace kestra::image {

namespace {

// splitmix64: the same numbers on every machine and library.
class Rng {
  public:
    explicit Rng(uint32_t seed) : s_(uint64_t{seed} * 0xD1B54A32D192ED03ull) {}
    uint64_t Next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>(Next() % n) : 0; }
    uint32_t Between(uint32_t lo, uint32_t hi) { return hi <= lo ? lo : lo + Below(hi - lo + 1); }
    bool Percent(uint32_t p) { return Below(100) < p; }
    // Even over orders of magnitude: a bit length first, then a number of that length.
    uint32_t Spread(uint32_t lo, uint32_t hi) {
        if (hi <= lo) return lo;
        const uint32_t k = Between(std::bit_width(lo), std::bit_width(hi));
        const uint32_t from = std::max(lo, k ? 1u << (k - 1) : 0u);
        return Between(from, static_cast<uint32_t>(std::min<uint64_t>(hi, (1ull << k) - 1)));
    }
    // Index into `weights`, chosen in proportion to them.
    uint32_t Pick(std::initializer_list<uint32_t> weights) {
        uint32_t total = 0, i = 0;
        for (uint32_t w : weights)
            total += w;
        uint32_t r = Below(total);
        for (uint32_t w : weights) {
            if (r < w) return i;
            r -= w;
            ++i;
        }
        return 0;
    }

  private:
    uint64_t s_;
};

struct Item {
    int node = -1;  // a child, or -1 for an erased entry
    ErasedEntry erased;
};

struct Node {
    int parent = -1;
    std::string name;
    bool folder = false;
    uint32_t depth = 0;
    uint32_t size = 0;      // files: bytes
    uint32_t clusters = 0;  // what it is given
    uint8_t attributes = 0;
    bool fragment = false;
    std::vector<Item> items;
    std::set<std::string> taken;  // folders: upper-case names in use
    Runs runs;
};

uint32_t SlotsOf(const std::string& name) {
    return 1 + (IsPlainShortName(name) ? 0 : static_cast<uint32_t>(LongNameSlots(name, 0).size()));
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

class Generator {
  public:
    explicit Generator(uint32_t seed) : seed_(seed), rng_(seed) {}
    RandomVolume Make();

  private:
    void PickGeometry();
    std::string Name(int folder, bool erased);
    int NewNode(int parent, const std::string& name, bool folder);
    void AddNode(int parent, bool folder);
    int Room(int folder, uint32_t slots);
    void GrowTree();
    void AddErased();
    void SizeFiles();
    uint32_t FolderSlots(int f) const;
    void SizeFolders();
    void Place();
    void Take(Runs& runs, uint32_t from, uint32_t length);
    uint32_t Features(const FatImage& img) const;

    uint32_t seed_;
    Rng rng_;
    ImageOptions opts_;
    Layout layout_;
    bool big_ = false, fixedRoot_ = false;
    uint32_t target_ = 0;  // clusters to use
    std::vector<Node> nodes_;
    std::vector<int> folders_;
    int overflow_ = -1;
    uint32_t rootSlots_ = 0, features_ = 0;
    std::vector<uint8_t> used_;
    std::string style_;
};

void Generator::PickGeometry() {
    big_ = rng_.Percent(8);
    const FatType type =
        std::array{FatType::kFat12, FatType::kFat16, FatType::kFat32}[rng_.Pick({40, 38, 22})];
    uint32_t shift = 0;
    if (type == FatType::kFat32)
        shift = rng_.Pick({80, 15, 5});
    else
        shift = rng_.Pick({30, 20, 15, 10, 9, 8, 8});
    opts_.sectorsPerCluster = static_cast<uint8_t>(1u << shift);
    const uint32_t cb = format::kSectorSize << shift;
    const uint64_t aim = (big_ ? 64u : 4u) << 20;
    uint32_t clusters = 0;
    if (type == FatType::kFat12)
        clusters = rng_.Spread(16, static_cast<uint32_t>(std::clamp<uint64_t>(aim / cb, 16, 4084)));
    else if (type == FatType::kFat16)
        clusters = rng_.Between(
            4085, static_cast<uint32_t>(std::clamp<uint64_t>(aim / cb, 4085 + 64, 65524)));
    else
        clusters = rng_.Between(65525, 65525 + (big_ ? 30000 : 1500));
    if (type == FatType::kFat32)
        opts_.reservedSectors = std::array<uint16_t, 3>{32, 8, 12}[rng_.Pick({70, 15, 15})];
    else
        opts_.reservedSectors = std::array<uint16_t, 4>{1, 2, 4, 8}[rng_.Pick({70, 10, 10, 10})];
    opts_.rootEntries =
        std::array<uint16_t, 6>{16, 32, 64, 112, 224, 512}[rng_.Pick({8, 10, 14, 14, 27, 27})];
    if (type == FatType::kFat32) opts_.rootEntries = 0;
    if (rng_.Percent(30)) opts_.label = "RND" + std::to_string(seed_ % 100000000);
    // Some counts give no whole FAT size, or a layout on the other side of a
    // type's edge; a count further inside the type's range does.
    for (int tries = 0;; ++tries) {
        try {
            opts_ = OptionsForClusterCount(type, clusters, opts_);
            break;
        } catch (const std::invalid_argument&) {
            if (tries > 1000) throw;
            clusters +=
                type == FatType::kFat12 || (type == FatType::kFat16 && clusters > 60000) ? -1 : 1;
        }
    }
    layout_ = ComputeLayout(opts_);
    fixedRoot_ = type != FatType::kFat32;
    const uint32_t fill =
        std::array{rng_.Between(1, 10), rng_.Between(10, 70), rng_.Between(70, 90),
                   rng_.Between(90, 98)}[rng_.Pick({15, 45, 20, 20})];
    const uint64_t budget = (big_ ? 48u : 3u) << 20;
    target_ = static_cast<uint32_t>(std::min<uint64_t>(
        std::max<uint64_t>(1, uint64_t{layout_.clusterCount} * fill / 100), budget / cb));
}

std::string Generator::Name(int folder, bool erased) {
    static const std::string plain = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
    static const std::string any =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _-+,;=[]()!#$%&'@^{}~.";
    auto from = [&](const std::string& set, uint32_t n) {
        std::string s;
        for (uint32_t i = 0; i < n; ++i)
            s += set[rng_.Below(static_cast<uint32_t>(set.size()))];
        return s;
    };
    for (int attempt = 0;; ++attempt) {
        std::string name;
        switch (rng_.Pick({35, 15, 35, 15})) {
            case 0:
                name = from(plain, rng_.Between(1, 8));
                if (rng_.Percent(70)) name += "." + from(plain.substr(0, 26), rng_.Between(1, 3));
                break;
            case 1:
                name = from(any.substr(0, 36), rng_.Between(1, 8)) + ".txt";
                break;
            default:
                // Long enough for one slot, or for up to ten.
                name = from(any, rng_.Percent(70) ? rng_.Between(9, 40) : rng_.Between(41, 125));
                break;
        }
        // No leading or trailing blanks and dots: tools strip them.
        while (!name.empty() && (name.back() == ' ' || name.back() == '.'))
            name.pop_back();
        while (!name.empty() && (name.front() == ' ' || name.front() == '.'))
            name.erase(0, 1);
        if (name.empty()) continue;
        if (attempt > 3) name += " " + std::to_string(attempt);
        if (erased || nodes_[folder].taken.insert(Upper(name)).second) return name;
    }
}

// The folder that takes an entry of `slots` slots meant for `folder`: a full
// fixed root sends it to an overflow folder, for which the root keeps room.
int Generator::Room(int folder, uint32_t slots) {
    if (folder != 0 || !fixedRoot_ ||
        rootSlots_ + slots + (overflow_ < 0 ? 1 : 0) <= layout_.rootEntries)
        return folder;
    if (overflow_ < 0) {
        nodes_[0].taken.insert("OVERFLOW");
        overflow_ = NewNode(0, "OVERFLOW", true);
    }
    return overflow_;
}

int Generator::NewNode(int parent, const std::string& name, bool folder) {
    Node n;
    n.parent = parent;
    n.name = name;
    n.folder = folder;
    n.depth = nodes_[parent].depth + 1;
    nodes_.push_back(std::move(n));
    const int id = static_cast<int>(nodes_.size() - 1);
    nodes_[parent].items.push_back({id, {}});
    if (parent == 0) rootSlots_ += SlotsOf(name);
    if (folder) folders_.push_back(id);
    return id;
}

void Generator::AddNode(int parent, bool folder) {
    std::string name = Name(parent, false);
    const int at = Room(parent, SlotsOf(name));
    if (at != parent) {
        nodes_[parent].taken.erase(Upper(name));
        name = Name(at, false);
    }
    const int id = NewNode(at, name, folder);
    // Hidden, system, read-only; folders are never read-only.
    if (rng_.Percent(folder ? 10 : 20))
        nodes_[id].attributes =
            static_cast<uint8_t>(rng_.Between(1, folder ? 6 : 7) & (folder ? 6 : 7));
}

void Generator::GrowTree() {
    nodes_.emplace_back();
    nodes_[0].folder = true;
    folders_ = {0};
    rootSlots_ = opts_.label.empty() ? 0 : 1;
    const uint32_t shape = rng_.Pick({55, 20, 25});  // random, deep, wide
    style_ = std::array{"random", "deep", "wide"}[shape];
    const uint64_t cb = layout_.ClusterBytes();
    // Entries of up to eight slots must leave most of a small volume to files.
    const uint32_t entries = static_cast<uint32_t>(
        std::min<uint64_t>(big_ ? 600 : 200, uint64_t{layout_.clusterCount} * cb / 256 / 4 + 1));
    uint32_t files = rng_.Spread(1, std::min(entries, target_ + 8));
    if (shape == 2) files = std::max(files, std::min(entries, rng_.Between(100, 250)));
    uint32_t folders = rng_.Spread(0, std::min(40u, files / 3 + 4));
    if (shape == 1) folders = std::max(folders, rng_.Between(8, 16));
    folders = std::min(folders, target_ / 2);
    for (uint32_t i = 0; i < folders; ++i) {
        const int last = folders_.back();
        int parent = folders_[rng_.Below(static_cast<uint32_t>(folders_.size()))];
        if (shape == 1 && rng_.Percent(85)) parent = last;
        if (shape == 2 && rng_.Percent(60)) parent = 0;
        AddNode(parent, true);
    }
    const int wide = folders_[rng_.Below(static_cast<uint32_t>(folders_.size()))];
    for (uint32_t i = 0; i < files; ++i) {
        int folder = folders_[rng_.Below(static_cast<uint32_t>(folders_.size()))];
        if (shape == 2 && rng_.Percent(70)) folder = wide;
        if (shape == 1 && rng_.Percent(50)) folder = folders_.back();
        AddNode(folder, false);
    }
}

void Generator::AddErased() {
    for (int f : std::vector<int>(folders_)) {
        if (!rng_.Percent(45)) continue;
        std::vector<Item>& items = nodes_[f].items;
        for (int where = 0; where < 3; ++where) {
            for (uint32_t k = rng_.Percent(50) ? (where == 1 ? rng_.Between(1, 3) : 1) : 0; k;
                 --k) {
                Item e;
                e.erased.name = Name(f, true);
                e.erased.folder = rng_.Percent(20);
                e.erased.startCluster =
                    rng_.Percent(90) ? rng_.Between(2, layout_.MaxCluster()) : 0;
                e.erased.size = e.erased.folder ? 0 : rng_.Below(200000);
                const uint32_t slots = SlotsOf(e.erased.name);
                if (where == 1 && items.size() < 2) continue;
                if (f == 0 && fixedRoot_ && rootSlots_ + slots > layout_.rootEntries) continue;
                if (f == 0) rootSlots_ += slots;
                const size_t at = where == 0 ? 0
                                  : where == 2
                                      ? items.size()
                                      : rng_.Between(1, static_cast<uint32_t>(items.size() - 1));
                features_ |= (where == 0   ? kErasedFirst
                              : where == 1 ? kErasedMiddle
                                           : kErasedLast) |
                             (f == 0 ? kErasedInRoot : 0u) |
                             (e.erased.folder ? kErasedFolder : 0u) |
                             (slots > 1 ? kErasedLongName : 0u);
                items.insert(items.begin() + static_cast<ptrdiff_t>(at), e);
            }
        }
    }
}

void Generator::SizeFiles() {
    const uint32_t cb = layout_.ClusterBytes();
    std::vector<int> files;
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (!nodes_[i].folder) files.push_back(static_cast<int>(i));
    uint32_t left =
        target_ > folders_.size() ? target_ - static_cast<uint32_t>(folders_.size()) : 0;
    for (size_t k = 0; k < files.size(); ++k) {
        Node& n = nodes_[files[k]];
        const uint32_t remaining = static_cast<uint32_t>(files.size() - k);
        const uint32_t mean = std::max<uint32_t>(1, left / remaining);
        // Empty, one cluster, one cluster and a byte, less than a cluster, or
        // about the mean of what is left.
        const uint32_t kind = rng_.Pick({6, 5, 5, 9, 75});
        uint32_t c = rng_.Percent(5) ? rng_.Between(mean, 4 * mean) : rng_.Between(1, 2 * mean - 1);
        c = std::min(c, std::max<uint32_t>(1, left > remaining ? left - remaining + 1 : 1));
        n.size = std::array{0u, cb, cb + 1, rng_.Between(1, cb),
                            (c - 1) * cb + rng_.Between(1, cb)}[kind];
        n.clusters = (n.size + cb - 1) / cb;
        left -= std::min(left, n.clusters);
    }
}

uint32_t Generator::FolderSlots(int f) const {
    uint32_t slots = f == 0 ? (opts_.label.empty() ? 0 : 1) : 2;
    for (const Item& item : nodes_[f].items)
        slots += SlotsOf(item.node >= 0 ? nodes_[item.node].name : item.erased.name);
    return slots;
}

void Generator::SizeFolders() {
    const uint32_t cb = layout_.ClusterBytes();
    uint32_t total = 0;
    for (int f : folders_) {
        if (f == 0 && fixedRoot_) continue;
        nodes_[f].clusters = std::max<uint32_t>(1, (FolderSlots(f) * 32 + cb - 1) / cb);
        total += nodes_[f].clusters;
    }
    for (const Node& n : nodes_)
        if (!n.folder) total += n.clusters;
    // Too full: shrink the largest files until everything fits.
    while (total > layout_.clusterCount) {
        auto big = std::max_element(nodes_.begin(), nodes_.end(), [](const Node& a, const Node& b) {
            return (a.folder ? 0 : a.clusters) < (b.folder ? 0 : b.clusters);
        });
        if (big->folder || big->clusters == 0) throw std::logic_error("folders alone overfill");
        const uint32_t cut = std::min(big->clusters, total - layout_.clusterCount);
        big->clusters -= cut;
        total -= cut;
        big->size = big->clusters * cb - (big->clusters ? rng_.Below(cb) : 0);
    }
    // Spare clusters at the end of some folders; two pieces for some.
    for (int f : folders_) {
        if (f == 0 && fixedRoot_) continue;
        Node& n = nodes_[f];
        const uint32_t extra = rng_.Percent(15) ? rng_.Between(1, 2) : 0;
        n.fragment = rng_.Percent(35);
        const uint32_t want = extra + (n.fragment && n.clusters + extra < 2 ? 1 : 0);
        if (total + want > layout_.clusterCount) continue;
        n.clusters += want;
        total += want;
    }
}

void Append(Runs& runs, uint32_t c) {
    if (!runs.empty() && runs.back().start + runs.back().length == c)
        ++runs.back().length;
    else
        runs.push_back({c, 1});
}

// Takes the first `length` free clusters from `from` on, wrapping at the end.
void Generator::Take(Runs& runs, uint32_t from, uint32_t length) {
    for (uint32_t c = from; length; ++c) {
        if (c > layout_.MaxCluster()) c = 2;
        if (used_[c]) continue;
        used_[c] = 1;
        --length;
        Append(runs, c);
    }
}

void Generator::Place() {
    struct Piece {
        int node;
        uint32_t length;
        Runs runs;
    };
    std::vector<Piece> pieces;  // chain by chain, each in order
    uint32_t total = 0;
    // Pre-order, so a folder comes before its contents, as a tool writes them.
    std::vector<int> stack{0};
    while (!stack.empty()) {
        const int id = stack.back();
        stack.pop_back();
        for (auto it = nodes_[id].items.rbegin(); it != nodes_[id].items.rend(); ++it)
            if (it->node >= 0) stack.push_back(it->node);
        const Node& n = nodes_[id];
        if (n.clusters == 0) continue;
        total += n.clusters;
        const bool split = n.clusters >= 2 && (n.folder ? n.fragment : rng_.Percent(30));
        std::vector<uint32_t> cuts{0, n.clusters};
        for (uint32_t k = split ? rng_.Between(1, std::min<uint32_t>(n.clusters - 1, 5)) : 0; k;
             --k)
            cuts.push_back(rng_.Between(1, n.clusters - 1));
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        for (size_t i = 0; i + 1 < cuts.size(); ++i)
            pieces.push_back({id, cuts[i + 1] - cuts[i], {}});
    }
    // Placed shuffled within a window, so pieces of one chain land apart and out of order.
    std::vector<size_t> order(pieces.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const uint32_t window = rng_.Between(1, 12);
    for (size_t i = 0; i < order.size(); ++i)
        std::swap(order[i], order[std::min(order.size() - 1, i + rng_.Below(window))]);

    const uint32_t style = rng_.Pick({50, 25, 25});  // in a row with holes, scattered, mixed
    style_ += std::array{", in a row", ", scattered", ", mixed"}[style];
    used_.assign(layout_.MaxCluster() + 1, 0);
    const uint32_t free = layout_.clusterCount - total;
    uint32_t holes = rng_.Percent(40) ? free : free / 100 * rng_.Between(0, 100);
    uint32_t cursor = 2;
    for (size_t k = 0; k < order.size(); ++k) {
        Piece& p = pieces[order[k]];
        if (style == 1 || (style == 2 && rng_.Percent(50))) {
            // Somewhere at random, in one piece when a few tries find room.
            uint32_t at = rng_.Between(2, layout_.MaxCluster());
            for (int tries = 0; tries < 32; ++tries) {
                const uint32_t s = rng_.Between(2, layout_.MaxCluster() + 1 - p.length);
                if (std::none_of(used_.begin() + s, used_.begin() + s + p.length,
                                 [](uint8_t u) { return u != 0; })) {
                    at = s;
                    break;
                }
            }
            Take(p.runs, at, p.length);
        } else {
            // Next in a row, after a hole of about the mean that is left.
            const uint32_t left = static_cast<uint32_t>(order.size() - k);
            uint32_t hole = std::min(holes, rng_.Below(2 * holes / left + 1));
            holes -= hole;
            for (; hole; ++cursor) {
                if (cursor > layout_.MaxCluster()) cursor = 2;
                if (!used_[cursor]) --hole;
            }
            Take(p.runs, cursor, p.length);
            cursor = p.runs.back().start + p.runs.back().length;
        }
    }
    for (const Piece& p : pieces)
        for (uint32_t c : ClustersOf(p.runs))
            Append(nodes_[p.node].runs, c);
}

uint32_t Generator::Features(const FatImage& img) const {
    const Layout& l = img.layout();
    uint32_t f = features_;
    uint32_t usedClusters = 0;
    for (NodeId id = 0; id < img.NodeCount(); ++id) {
        const NodeInfo& n = img.Node(id);
        usedClusters += static_cast<uint32_t>(n.Clusters().size());
        if (id == kRootNode) {
            if (l.type == FatType::kFat32) f |= n.runs.size() > 1 ? kFragmentedRoot : kWholeRoot;
        } else if (n.runs.size() > 1) {
            f |= n.isFolder ? kFragmentedFolder : kFragmentedFile;
        }
        if (!n.slotOffsets.empty() && n.slotOffsets.front() / format::kSectorSize !=
                                          n.slotOffsets.back() / format::kSectorSize)
            f |= kSetAcrossSectors;
        if (n.slotOffsets.size() >= 4) f |= kLongName;
        if (!n.isFolder && n.content.empty()) f |= kEmptyFile;
        if (!n.isFolder && n.content.size() == l.ClusterBytes()) f |= kOneCluster;
        if (!n.isFolder && n.content.size() == l.ClusterBytes() + 1) f |= kOneClusterAndAByte;
        if (n.attributes & (format::kAttrHidden | format::kAttrSystem | format::kAttrReadOnly))
            f |= kAttributes;
    }
    for (int id : folders_) {
        if (nodes_[id].items.size() >= 100) f |= kWide;
        if ((id != 0 || !fixedRoot_) && FolderSlots(id) * 32 > l.ClusterBytes())
            f |= kFolderAcrossClusters;
        if (nodes_[id].depth >= 8) f |= kDeep;
    }
    if (usedClusters * 10 >= l.clusterCount * 9) f |= kNearlyFull;
    if (usedClusters * 10 <= l.clusterCount) f |= kNearlyEmpty;
    if (l.sectorsPerCluster >= 32) f |= kBigClusters;
    if (!opts_.label.empty()) f |= kLabel;
    return f;
}

RandomVolume Generator::Make() {
    PickGeometry();
    GrowTree();
    AddErased();
    SizeFiles();
    SizeFolders();
    Place();

    ImageBuilder b(opts_);
    if (!fixedRoot_) b.SetRootRuns(nodes_[0].runs);
    uint32_t files = 0, erased = 0;
    std::vector<std::pair<int, NodeId>> todo{{0, kRootNode}};
    while (!todo.empty()) {
        const auto [f, id] = todo.back();
        todo.pop_back();
        for (const Item& item : nodes_[f].items) {
            if (item.node < 0) {
                b.AddErased(id, item.erased);
                ++erased;
                continue;
            }
            const Node& n = nodes_[item.node];
            const EntryOptions o = EntryOptions::WithAttributes(n.attributes);
            if (n.folder) {
                todo.push_back({item.node, b.AddFolder(id, n.name, n.runs, o)});
            } else {
                b.AddFile(id, n.name, SeededBytes(seed_ * 7919u + files++, n.size), n.runs, o);
            }
        }
    }
    RandomVolume v{seed_, b.Build(), {}, 0, 0, ""};
    if (!big_ && rng_.Percent(12)) {
        v.start = std::array<uint32_t, 4>{1, 63, 2048, rng_.Between(1, 4096)}[rng_.Below(4)];
        const int slot = static_cast<int>(rng_.Between(1, 4));
        v.disk = WrapInMbr(v.built.bytes(), slot, v.start);
        style_ += ", partition " + std::to_string(slot) + " at sector " + std::to_string(v.start);
        features_ |= kInMbr;
    }
    v.features = Features(v.built);
    const Layout& l = v.built.layout();
    uint32_t usedClusters = 0;
    for (NodeId id = 0; id < v.built.NodeCount(); ++id)
        usedClusters += static_cast<uint32_t>(v.built.Node(id).Clusters().size());
    v.shape = std::string(FatTypeName(l.type)) + ", " + std::to_string(l.sectorsPerCluster) +
              " sectors a cluster, " + std::to_string(l.clusterCount) + " clusters, " +
              std::to_string(uint64_t{usedClusters} * 100 / l.clusterCount) + "% used, " +
              std::to_string(folders_.size() - 1) + " folders, " + std::to_string(files) +
              " files, " + std::to_string(erased) + " erased, " + style_;
    return v;
}

}  // namespace

std::string FeatureNames(uint32_t features) {
    static const char* const names[] = {"fragmented file",
                                        "fragmented folder",
                                        "fragmented FAT32 root",
                                        "FAT32 root in one piece",
                                        "erased first",
                                        "erased middle",
                                        "erased last",
                                        "erased in the root",
                                        "erased long name",
                                        "erased folder",
                                        "long name",
                                        "entry set across sectors",
                                        "folder across clusters",
                                        "empty file",
                                        "one-cluster file",
                                        "one cluster and a byte",
                                        "attributes",
                                        "label",
                                        "MBR",
                                        "deep tree",
                                        "wide folder",
                                        "nearly full",
                                        "nearly empty",
                                        "big clusters",
                                        "one FAT"};
    std::string out;
    for (uint32_t i = 0; i < std::size(names); ++i)
        if (features & (1u << i)) out += std::string(out.empty() ? "" : ", ") + names[i];
    return out;
}

RandomVolume MakeRandomVolume(uint32_t seed) {
    return Generator(seed).Make();
}

}  // namespace kestra::image
