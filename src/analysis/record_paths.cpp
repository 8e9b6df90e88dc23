#include "analysis/record_paths.h"

#include "analysis/long_names.h"
#include "disk/geometry.h"
#include "fat/chains.h"
#include "format/utf8.h"

namespace kestra::analysis {
namespace {

std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : path + "/") {
        if (c != '/' && c != '\\') {
            part += c;
        } else if (!part.empty()) {
            parts.push_back(format::LowerText(part));
            part.clear();
        }
    }
    return parts;
}

// The first sector and sector count of each piece of folder record `folder`.
std::vector<std::pair<int64_t, uint64_t>> FolderPieces(fat::FatRun& run, uint32_t folder) {
    const uint32_t start = run.model.FileTab[folder].StartCluster;
    if (start == 0) return {{disk::RootDirSector(run.geo), disk::RootDirSectors(run.geo)}};
    fat::Extents ext;
    fat::GetExtents(run, start, ext);
    std::vector<std::pair<int64_t, uint64_t>> pieces;
    for (uint32_t k = 1; k <= ext.Count() && run.flags.AbortRun == 0; ++k)
        pieces.emplace_back(disk::ClusterToSector(run.geo, ext.Starts[k]),
                            uint64_t{ext.Lens[k]} * run.geo.SectorsPerCluster);
    return pieces;
}

// The entry number in `folder` whose long or 8.3 name is `name`, or -1.
int64_t FindEntry(fat::FatRun& run, uint32_t folder, const std::string& name) {
    LongNameCollector longNames;
    std::array<uint8_t, 512> sector{};
    int64_t entryNo = 0;
    for (const auto& [first, count] : FolderPieces(run, folder)) {
        for (uint64_t s = 0; s < count; ++s) {
            run.io.SetNextSector(first + static_cast<int64_t>(s));
            if (!run.io.ReadSectors(sector.data(), sector.size())) return -1;
            for (size_t j = 0; j < 16; ++j, ++entryNo) {
                const uint8_t* e = &sector[j * 32];
                const Slot slot = FeedSlot(longNames, e);
                if (slot == Slot::End) return -1;
                if (slot != Slot::Entry) continue;
                const std::string longName = longNames.Take(e);
                if (e[0] == '.') continue;
                if (format::LowerText(fat::EntryName(e, run.geo.CodePage)) == name ||
                    format::LowerText(longName) == name)
                    return entryNo;
            }
        }
    }
    return -1;
}

}  // namespace

bool FindRecord(fat::FatRun& run, const std::string& path, uint32_t& record) {
    const std::vector<fat::FileRec>& tab = run.model.FileTab;
    uint32_t current = 0;
    for (const std::string& name : Components(path)) {
        if (current != 0 && (tab[current].Attr & fat::kAttrFolder) == 0) return false;
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
        if (below[k] && (m.FileTab[k].Attr & fat::kAttrFolder) == 0) files.push_back(k);
    }
    return files;
}

}  // namespace kestra::analysis
