#pragma once

#include <functional>
#include <vector>

#include "support/image.h"

namespace kestra::testing {

struct Damaged {
    FatImage image;
    NodeId a, b, docs, inner, sub;

    const Layout& layout() const { return image.layout(); }
    bool fat32() const { return layout().type == FatType::kFat32; }
    // The first bytes of a folder: its "." entry, then its "..".
    uint8_t* Dots(NodeId folder) {
        return &image.bytes()[image.ClusterOffset(image.Node(folder).FirstCluster())];
    }
    void SetStart(uint8_t* entry, uint32_t cluster) {
        entry[26] = cluster & 0xFF;
        entry[27] = (cluster >> 8) & 0xFF;
        entry[20] = (cluster >> 16) & 0xFF;
        entry[21] = (cluster >> 24) & 0xFF;
    }
};

// A.BIN fragmented, B.BIN, folder DOCS in two pieces holding INNER.TXT and folder
// SUB: five entries, five chains (six on FAT32).
Damaged BuildDamageable(const ImageOptions& options);

struct DamageCase {
    const char* name;
    // Damages the volume; false when the kind does not exist on its FAT type.
    std::function<bool(Damaged&)> damage;
    const char* errText;  // the "Err=" text; empty: the volume is accepted
};

// Every kind of damage fsck.fat finds, each a single fault on a BuildDamageable volume.
const std::vector<DamageCase>& DamageTable();

}  // namespace kestra::testing
