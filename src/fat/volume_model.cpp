#include "fat/volume_model.h"

#include <cmath>

namespace kestra::fat {

void GrowFileTab(VolumeModel& model, uint32_t record) {
    if (record < model.FileTab.size()) return;
    const size_t size = size_t{record} + 200;
    model.FileTab.resize(size);
    model.FileFolderIdx.resize(size);
    model.FileFixed.resize(size);
}

void GrowDirTab(VolumeModel& model, uint32_t folder) {
    if (folder < model.DirTab.size()) return;
    model.DirTab.resize(size_t{folder} + 200);
}

void TrimScanTables(VolumeModel& model, const RunCounters& counters) {
    // The parallel arrays keep their size; only the record tables are trimmed.
    model.FileTab.resize(size_t{counters.FileCount} + 1);
    model.DirTab.resize(size_t{counters.DirCount} + 1);
    model.FolderTree.resize(size_t(model.FolderTreeCount) + 1);
}

void FolderAdd(VolumeModel& model, int32_t parent, const std::string& name) {
    ++model.FolderTreeCount;
    if (static_cast<size_t>(model.FolderTreeCount) >= model.FolderTree.size()) {
        model.FolderTree.resize(model.FolderTree.size() + 100);
    }
    model.FolderTree[model.FolderTreeCount] = {parent, name, {}};
}

std::string FolderPath(const VolumeModel& model, int32_t node) {
    std::string path = model.FolderTree[node].Name;
    for (int32_t up = model.FolderTree[node].Parent; up >= 0; up = model.FolderTree[up].Parent) {
        path = model.FolderTree[up].Name + "\\" + path;
    }
    return path;
}

std::string EntryName(const uint8_t* entry, const format::CodePage& codePage) {
    return format::ShortNameText(entry, codePage);
}

size_t MemReserveEntries(size_t fatUpperBound, uint32_t sectorsPerCluster) {
    // Rounded half to even, as the figure was always rounded.
    double n = std::nearbyint(static_cast<double>(fatUpperBound) * sectorsPerCluster / 256.0);
    if (n < 15000) n = 15000;
    return static_cast<size_t>(18 * n + 40000) + 1;
}

}  // namespace kestra::fat
