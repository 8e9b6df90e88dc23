#include "support/volume_reader.h"

#include <algorithm>
#include <set>

namespace kestra::testing {

namespace {

uint32_t Le(std::span<const uint8_t> b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | b[at + i];
    return v;
}

struct Reader {
    std::span<const uint8_t> b;
    ReadVolume& v;
    uint64_t fatStart = 0, rootStart = 0, dataStart = 0, clusterBytes = 0;
    uint32_t rootEntries = 0;

    uint32_t Next(uint32_t c) const {
        switch (v.fatBits) {
            case 12: {
                const uint32_t pair = Le(b, fatStart + c * 3 / 2, 2);
                return c % 2 ? pair >> 4 : pair & 0xFFF;
            }
            case 16:
                return Le(b, fatStart + c * 2, 2);
            default:
                return Le(b, fatStart + c * 4, 4) & 0x0FFFFFFF;
        }
    }
    bool IsEnd(uint32_t next) const {
        return next >= (v.fatBits == 12 ? 0xFF8u : v.fatBits == 16 ? 0xFFF8u : 0x0FFFFFF8u);
    }

    std::vector<uint32_t> Chain(uint32_t start, const std::string& path) {
        std::vector<uint32_t> chain;
        std::set<uint32_t> seen;
        for (uint32_t c = start;;) {
            if (c < 2 || c > v.maxCluster || !seen.insert(c).second) {
                v.error += "broken chain at " + std::to_string(c) + " in " + path + "\n";
                return chain;
            }
            chain.push_back(c);
            const uint32_t next = Next(c);
            if (IsEnd(next)) return chain;
            c = next;
        }
    }

    // False at the entry that ends the folder (first byte zero).
    bool Folder(const std::string& path, uint64_t at, uint64_t bytes, int depth) {
        for (uint64_t e = at; e < at + bytes; e += 32) {
            const uint8_t first = b[e], attr = b[e + 11];
            if (first == 0) return false;
            if (first == 0xE5 || (attr & 0x3F) == 0x0F || (attr & 0x08) || first == '.') continue;
            std::string name;
            for (int i = 0; i < 11; ++i) {
                if (i == 8 && b[e + 8] != ' ') name += '.';
                if (b[e + i] != ' ')
                    name += static_cast<char>(i == 0 && first == 5 ? 0xE5 : b[e + i]);
            }
            ReadItem item{path + name, (attr & 0x10) != 0, {}};
            const uint32_t start =
                Le(b, e + 26, 2) | (v.fatBits == 32 ? Le(b, e + 20, 2) << 16 : 0);
            if (start != 0) item.clusters = Chain(start, item.path);
            v.items.push_back(item);
            if (item.folder && depth < 64) Walk(item.path + "/", item.clusters, depth + 1);
        }
        return true;
    }
    void Walk(const std::string& path, const std::vector<uint32_t>& clusters, int depth) {
        for (uint32_t c : clusters)
            if (!Folder(path, dataStart + uint64_t{c - 2} * clusterBytes, clusterBytes, depth))
                return;
    }
};

}  // namespace

uint32_t ReadItem::Extents() const {
    uint32_t n = clusters.empty() ? 0 : 1;
    for (size_t i = 1; i < clusters.size(); ++i)
        n += clusters[i] != clusters[i - 1] + 1;
    return n;
}

uint32_t ReadVolume::LargestGap() const {
    uint32_t n = 0;
    for (const auto& g : gaps)
        n = std::max(n, g.second);
    return n;
}

ReadVolume ReadFatVolume(std::span<const uint8_t> b) {
    ReadVolume v;
    Reader r{b, v};
    const uint32_t reserved = Le(b, 14, 2), fats = b[16], fat16 = Le(b, 22, 2);
    const uint32_t fatSectors = fat16 ? fat16 : Le(b, 36, 4);
    const uint32_t total = Le(b, 19, 2) ? Le(b, 19, 2) : Le(b, 32, 4);
    r.rootEntries = Le(b, 17, 2);
    r.clusterBytes = uint64_t{b[13]} * 512;
    r.fatStart = uint64_t{reserved} * 512;
    r.rootStart = r.fatStart + uint64_t{fats} * fatSectors * 512;
    r.dataStart = r.rootStart + (uint64_t{r.rootEntries} * 32 + 511) / 512 * 512;
    const uint32_t clusters =
        static_cast<uint32_t>((total * 512ull - r.dataStart) / r.clusterBytes);
    v.fatBits = fat16 == 0 ? 32 : clusters < 4085 ? 12 : 16;
    v.maxCluster = clusters + 1;
    for (uint32_t c = 2; c <= v.maxCluster; ++c) {
        if (r.Next(c) != 0) continue;
        ++v.freeClusters;
        if (!v.gaps.empty() && v.gaps.back().first + v.gaps.back().second == c)
            ++v.gaps.back().second;
        else
            v.gaps.push_back({c, 1});
    }
    ReadItem root{"/", true, {}};
    if (v.fatBits == 32) root.clusters = r.Chain(Le(b, 44, 4), "/");
    v.items.push_back(root);
    if (v.fatBits == 32)
        r.Walk("/", root.clusters, 0);
    else
        r.Folder("/", r.rootStart, uint64_t{r.rootEntries} * 32, 0);
    return v;
}

}  // namespace kestra::testing
