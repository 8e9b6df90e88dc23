#include "engine/full_root.h"

#include <algorithm>
#include <vector>

#include "disk/geometry.h"
#include "format/dir_entry.h"

namespace kestra::engine {
namespace {

// One free or erased entry in the fixed root is room for the one lost chain a
// cut in a folder move leaves. A root that cannot be read counts as full.
bool RootHasRoom(fat::FatRun& run) {
    std::vector<uint8_t> root(size_t{disk::RootDirSectors(run.geo)} * format::kSectorSize);
    run.io.SetNextSector(disk::RootDirSector(run.geo));
    if (root.empty() || !run.io.ReadSectors(root.data(), root.size())) return false;
    const size_t entries =
        std::min<size_t>(run.geo.RootEntryCount, root.size() / format::kDirEntrySize);
    for (size_t k = 0; k < entries; ++k) {
        const uint8_t first = root[k * format::kDirEntrySize];
        if (first == 0 || first == format::kErasedMark) return true;
    }
    return false;
}

}  // namespace

uint32_t KeepFoldersOnFullRoot(fat::FatRun& run) {
    if (run.geo.IsFat32 || RootHasRoom(run)) return 0;
    fat::VolumeModel& m = run.model;
    uint32_t kept = 0;
    for (size_t k = 1; k < m.FileTab.size(); ++k) {
        const fat::FileRec& sub = m.FileTab[k];
        const uint32_t parent = sub.ParentRec;
        if ((sub.Attr & format::kAttrDirectory) == 0 || sub.StartCluster == 0 || parent == 0 ||
            parent >= m.FileFixed.size() || m.FileFixed[parent] != 0) {
            continue;
        }
        m.FileFixed[parent] = 255;
        if (m.FileTab[parent].Frags > 1) ++run.counters.FragmentedFixedCount;
        ++kept;
    }
    return kept;
}

}  // namespace kestra::engine
