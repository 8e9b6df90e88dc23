#include "analysis/record_paths.h"

#include "analysis/folder_walk.h"
#include "format/dir_entry.h"
#include "format/utf8.h"

namespace kestra::analysis {
namespace {

// The entry number in folder record `folder` whose long or 8.3 name, lower
// case, is `name`, or -1. Read a sector at a time: the walk ends where the name is.
int64_t FindEntry(fat::FatRun& run, uint32_t folder, const std::string& name) {
    int64_t found = -1;
    ForEachEntry(
        run, run.model.FileTab[folder].StartCluster,
        [&](const FolderSlot& slot) {
            if (slot.kind == Slot::End) return false;
            if (slot.kind != Slot::Entry || slot.bytes[0] == '.') return true;
            if (format::LowerText(fat::EntryName(slot.bytes, run.geo.CodePage)) == name ||
                format::LowerText(slot.longName) == name) {
                found = slot.entryNo;
                return false;
            }
            return true;
        },
        1);
    return found;
}

}  // namespace

bool FindRecord(fat::FatRun& run, const std::string& path, uint32_t& record) {
    const std::vector<fat::FileRec>& tab = run.model.FileTab;
    uint32_t current = 0;
    for (const PathName& part : SplitPath(path)) {
        const std::string name = format::LowerText(part.name);
        if (current != 0 && (tab[current].Attr & format::kAttrDirectory) == 0) return false;
        const int64_t entryNo = FindEntry(run, current, name);
        if (entryNo < 0) return false;
        uint32_t found = 0;
        for (uint32_t k = 1; k < tab.size() && found == 0; ++k) {
            if (tab[k].ParentRec == current && tab[k].EntryNo == entryNo) found = k;
        }
        if (found == 0) return false;
        current = found;
    }
    record = current;
    return true;
}

std::vector<uint32_t> FilesBelow(const fat::VolumeModel& m, uint32_t top) {
    // A folder's records come after its own, so one pass sees every parent first.
    std::vector<bool> below(m.FileTab.size(), false);
    std::vector<uint32_t> files;
    if (top < below.size()) below[top] = true;
    for (uint32_t k = top == 0 ? 1 : top; k < m.FileTab.size(); ++k) {
        below[k] = below[k] || (m.FileTab[k].ParentRec != k && below[m.FileTab[k].ParentRec]);
        if (below[k] && (m.FileTab[k].Attr & format::kAttrDirectory) == 0) files.push_back(k);
    }
    return files;
}

}  // namespace kestra::analysis
