#include "analysis/folder_scan.h"

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "analysis/entry_rules.h"
#include "analysis/folder_walk.h"
#include "disk/geometry.h"
#include "fat/chains.h"
#include "format/dir_entry.h"
#include "report/run_status.h"
#include "report/status_lines.h"

namespace kestra::analysis {
namespace {

using fat::kFatMask;

struct Subfolder {
    uint32_t start;
    uint32_t record;
    std::string name;
    std::string longName;
};

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

void ShowCounts(Analysis& a) {
    report::ShowStatus(a.report, display::kStatusLine2,
                       std::to_string(a.run.counters.FolderCount) + " / " +
                           std::to_string(a.run.counters.PlainFileCount),
                       0);
}

// Per-visit state of FAT_Do_Subdir, so the entry loop reads like the steps.
struct FolderVisit {
    Analysis& a;
    uint32_t Cluster;  // the folder's first cluster; 0 for the FAT12/16 root
    uint32_t Index;
    int32_t SubIdx;
    std::vector<Subfolder> subfolders;
    std::unordered_set<std::string> names;  // 8.3 names met so far
    bool stopped = false;                   // the visit must return at once

    // One 32-byte slot of the folder; false once the visit must stop.
    bool Visit(const FolderSlot& slot);
    // A file or folder entry, and the record it becomes.
    void Entry(const uint8_t* e, uint32_t entryNo, const std::string& longName);
    // "." and ".." open every folder but the root.
    void DotEntry(const uint8_t* e, uint32_t entryNo);
    // Systems stop at the end mark, fsck.fat reads on: past it, every slot must
    // be free for both to see the same folder.
    void AfterEnd(const uint8_t* e);
    // The entry's start cluster, when its name and start may stand; else the
    // scan has stopped.
    bool CheckEntry(const uint8_t* e, const std::string& longName, uint32_t& start);
    // The record of an entry that passed CheckEntry; 0 when its chain cannot be walked.
    uint32_t AddRecord(const uint8_t* e, uint32_t entryNo, uint32_t start,
                       const std::string& longName);
    // Unmovable files, the lists of the front ends, the counts and progress.
    void ListRecord(uint32_t rec, const uint8_t* e, const std::string& longName);
    // Stops the scan on damage that would make a write unsafe, naming the entry.
    void Damage(const std::string& text, const uint8_t* e, const std::string& longName);
    // The start cluster must head a chain no link and no other entry reaches.
    bool ClaimChain(uint32_t start, const uint8_t* e, const std::string& longName);
};

void FolderVisit::Damage(const std::string& text, const uint8_t* e, const std::string& longName) {
    // Without an entry, the folder itself is named.
    const fat::FolderNode& f = a.run.model.FolderTree[SubIdx];
    const std::string path =
        e != nullptr ? LongPath(a, SubIdx, fat::EntryName(e, a.run.geo.CodePage), longName)
                     : LongPath(a, f.Parent, f.Name, f.LongName);
    report::ScanStop(a.report, text + ": " + path);
    stopped = true;
}

void FolderVisit::DotEntry(const uint8_t* e, uint32_t entryNo) {
    const fat::VolumeModel& m = a.run.model;
    // ".." of a folder in the root is 0, on FAT32 too.
    const uint32_t parent = m.FileTab[Index].ParentRec;
    const uint32_t want = entryNo == 0 ? Cluster : parent == 0 ? 0 : m.FileTab[parent].StartCluster;
    if (!IsDotEntry(e, static_cast<int>(entryNo), want, a.run.geo.IsFat32)) {
        Damage("Invalid Dot entry", nullptr, {});
    }
}

void FolderVisit::AfterEnd(const uint8_t* e) {
    if (e[0] != format::kEndMark && e[0] != format::kErasedMark)
        Damage("Entry after the end of the folder", e, {});
}

bool FolderVisit::ClaimChain(uint32_t start, const uint8_t* e, const std::string& longName) {
    fat::VolumeModel& m = a.run.model;
    if (m.ClusterUse[start] != 0 || a.claimed[start]) {
        Damage("Crosslinked files", e, longName);
        return false;
    }
    a.claimed[start] = true;
    return true;
}

bool FolderVisit::Visit(const FolderSlot& slot) {
    const uint8_t* e = slot.bytes;
    if (a.run.flags.RunError) {
        stopped = true;
    } else if (slot.pastEnd) {
        AfterEnd(e);
    } else if (Index != 0 && slot.entryNo < 2) {
        // A folder's first two slots are its dot entries, whatever they hold.
        DotEntry(e, slot.entryNo);
    } else if (slot.kind == Slot::Erased) {
        ++a.run.counters.ErasedEntryCount;
    } else if (slot.kind == Slot::Label) {
        if (Index == 0 && BadLabel(e)) {
            // Its bytes are what is wrong: not shown.
            report::ScanStop(a.report, "Invalid volume label");
            stopped = true;
        }
    } else if (slot.kind == Slot::Entry) {
        Entry(e, slot.entryNo, slot.longName);
    }
    return !stopped;
}

bool FolderVisit::CheckEntry(const uint8_t* e, const std::string& longName, uint32_t& start) {
    fat::RunCounters& n = a.run.counters;
    if (BadShortName(e)) {
        Damage("Invalid name", e, longName);
        return false;
    }
    if (!names.insert(std::string(reinterpret_cast<const char*>(e), 11)).second) {
        Damage("Duplicate name", e, longName);
        return false;
    }
    const format::DirEntry entry(e);
    start = entry.StartCluster(a.run.geo.IsFat32);
    const bool folder = entry.IsFolder();
    if (start == 0) ++n.EmptyFileCount;
    if (start > n.LastCluster) {
        report::ScanStop(a.report, "BadDirClu");
        stopped = true;
        return false;
    }
    if (start == 1 || (folder && start == 0)) {
        Damage("BadDirClu", e, longName);
        return false;
    }
    if (folder && entry.Size() != 0) {
        Damage("Invalid folder size", e, longName);
        return false;
    }
    return start == 0 || ClaimChain(start, e, longName);
}

uint32_t FolderVisit::AddRecord(const uint8_t* e, uint32_t entryNo, uint32_t start,
                                const std::string& longName) {
    fat::FatRun& run = a.run;
    fat::VolumeModel& m = run.model;
    const format::DirEntry entry(e);
    const uint32_t rec = ++run.counters.FileCount;
    fat::GrowFileTab(m, rec);
    fat::FileRec& r = m.FileTab[rec];
    m.FileFolderIdx[rec] = static_cast<uint32_t>(SubIdx);
    r.StartCluster = start;
    r.Size = entry.Size();
    r.Attr = entry.Attributes();
    r.ParentRec = Index;
    r.EntryNo = entryNo;
    std::copy(e, e + 11, r.Name.begin());
    int64_t blks = 0;
    r.Frags = start != 0 ? static_cast<uint8_t>(fat::Fragmented(run, start, blks)) : 0;
    if (run.flags.RunError) {
        // A chain that cannot be walked: nothing may be written to this volume.
        if (run.flags.AbortRun != 0) Damage(run.flags.ErrText, e, longName);
        stopped = true;
        return 0;
    }
    return rec;
}

void FolderVisit::ListRecord(uint32_t rec, const uint8_t* e, const std::string& longName) {
    fat::FatRun& run = a.run;
    fat::RunCounters& n = run.counters;
    fat::VolumeModel& m = run.model;
    const fat::FileRec& r = m.FileTab[rec];
    const bool folder = (r.Attr & format::kAttrDirectory) != 0;
    const std::string name = fat::EntryName(e, a.run.geo.CodePage);
    if (!folder) {
        int64_t blks1 = 0, blks2 = 0;
        if (FAT_InValid_File(a, r.StartCluster, r.Size, blks1, blks2) &&
            Upper(name) != "WIN386.SWP") {
            m.FileFixed[rec] = 255;
            ++run.mode.FixedFileCount;
        }
    }
    const char* mark = m.FileFixed[rec] != 0 ? "fixed" : nullptr;
    if (run.mode.SharedVolume && !(r.Frags < 2 && run.mode.DefragMode == 0)) {
        if (const char* held = FAT_Check_Fixed(a, fat::FolderPath(m, SubIdx), e, longName))
            mark = held;
    }
    // A fragmented folder is never listed: the list names files.
    if (run.mode.DefragMode < 0 && r.Frags > 1 && m.FileFixed[rec] == 0 && !folder) {
        AddLongPathItem(a, rec, name, longName);
    }
    if (!folder && (r.Frags > 1 || a.listEveryFile)) {
        a.scannedFiles.push_back(ListFile(a, rec, name, longName, mark ? mark : ""));
    }
    if (folder) {
        fat::Mark_Chain(run, r.StartCluster, display::kBoxFile);
        subfolders.push_back({r.StartCluster, rec, name, longName});
        ++n.FolderCount;
    } else {
        ++n.PlainFileCount;
        if (n.PlainFileCount % 128 == 0) {
            report::ShowStatus(a.report, display::kStatusLine1, name, 0);
            ShowCounts(a);
            report::LetEventsRun(a.report);
        }
    }
    if (m.FileFixed[rec] != 0) fat::Mark_Chain(run, r.StartCluster, display::kBoxFixed);
}

void FolderVisit::Entry(const uint8_t* e, uint32_t entryNo, const std::string& longName) {
    uint32_t start = 0;
    if (!CheckEntry(e, longName, start)) return;
    const uint32_t rec = AddRecord(e, entryNo, start, longName);
    if (rec != 0) ListRecord(rec, e, longName);
}

}  // namespace

void Mark_Subdirs(Analysis& a) {
    fat::FatRun& run = a.run;
    fat::VolumeModel& m = run.model;
    if (run.mode.SharedVolume) run.io.OpenFileCount = run.io.EnumOpenFiles();

    m.DirTab.assign(201, {});
    run.counters.DirCount = 0;
    run.counters.FileCount = 0;
    m.FolderTree.assign(101, {});
    m.FolderTree[0] = {-1, Upper(run.io.DriveLetter), {}};
    m.FolderTreeCount = 0;
    a.claimed.assign(size_t{run.counters.LastCluster} + 1, false);
    const size_t records = size_t{run.counters.ChainCount} + 3;
    m.FileTab.assign(records, {});
    m.FileFolderIdx.assign(records, 0);
    m.FileFixed.assign(records, 0);
    a.scannedFiles.clear();

    if (run.geo.IsFat32) {
        const uint32_t root = run.geo.RootCluster;
        if (root < 2 || root > run.counters.LastCluster || run.model.ClusterUse[root] != 0) {
            report::ScanStop(a.report, "BadDirClu");
        } else {
            a.claimed[root] = true;
            FAT_Do_Subdir(a, root, 0, 0);
            // The FAT32 root is a folder like any other that a run may move, but
            // only on a volume held alone: its switch rewrites the boot sector.
            int64_t blks = 0;
            fat::FileRec& r = m.FileTab[0];
            r.StartCluster = root;
            r.Attr = format::kAttrDirectory;
            r.Frags = static_cast<uint8_t>(std::max(fat::Fragmented(run, root, blks), 1));
            if (run.mode.SharedVolume) m.FileFixed[0] = 255;
        }
    } else {
        FAT_Do_Subdir(a, 0, 0, 0);
    }
    fat::TrimScanTables(m, run.counters);
}

void FAT_Do_Subdir(Analysis& a, uint32_t Cluster, uint32_t Index, int32_t SubIdx) {
    fat::FatRun& run = a.run;
    fat::VolumeModel& m = run.model;
    report::LetEventsRun(a.report);
    if (run.flags.RunError) return;
    report::ShowStatus(a.report, display::kStatusLine1, m.FolderTree[SubIdx].Name, 0);
    ShowCounts(a);
    const uint32_t erasedBefore = run.counters.ErasedEntryCount;

    FolderVisit visit{a, Cluster, Index, SubIdx, {}, {}, false};
    const WalkEnd walked =
        ForEachEntry(run, Cluster, [&visit](const FolderSlot& slot) { return visit.Visit(slot); });
    if (walked == WalkEnd::BadChain && run.flags.AbortRun != 0) run.flags.StructureErrorFlag = true;
    if (walked != WalkEnd::Done) return;

    const uint32_t dir = ++run.counters.DirCount;
    fat::GrowDirTab(m, dir);
    m.DirTab[dir] = {Index, run.counters.ErasedEntryCount - erasedBefore};

    for (const Subfolder& sub : visit.subfolders) {
        fat::FolderAdd(m, SubIdx, sub.name);
        m.FolderTree[m.FolderTreeCount].LongName = sub.longName;
        // Every folder entry claimed a chain of its own, so no folder is walked twice.
        FAT_Do_Subdir(a, sub.start, sub.record, m.FolderTreeCount);
        if (run.flags.RunError) return;
    }
}

bool FAT_InValid_File(Analysis& a, uint32_t ClusNo, uint32_t Size, int64_t& Blks1, int64_t& Blks2) {
    fat::FatRun& run = a.run;
    if (ClusNo == 0) return false;
    fat::Fragmented(run, ClusNo, Blks1);
    if (run.flags.AbortRun != 0) {
        run.flags.ErrText.clear();
        run.flags.AbortRun = 0;
        run.flags.RunError = false;
        return true;
    }
    const uint64_t clusterBytes = uint64_t{run.geo.SectorsPerCluster} * format::kSectorSize;
    Blks2 = Size == 0 ? 0 : static_cast<int64_t>((uint64_t{Size} - 1) / clusterBytes + 1);
    return (run.model.Fat[ClusNo] & kFatMask) == 0 || run.model.ClusterUse[ClusNo] != 0 ||
           Blks1 != Blks2;
}

const char* FAT_Check_Fixed(Analysis& a, const std::string& folderPath, const uint8_t* entry,
                            const std::string& longName) {
    fat::FatRun& run = a.run;
    const uint32_t rec = run.counters.FileCount;
    const std::string name = Upper(fat::EntryName(entry, a.run.geo.CodePage));
    const std::string full = folderPath + "\\" + name;
    const char* mark = nullptr;
    if (name == "WIN386.SWP" || name == "USER.DAT" || name == "SYSTEM.DAT") {
        mark = "fixed";
    } else if (run.io.IsOpenFile(full, name) || name.rfind("~DF", 0) == 0) {
        mark = "busy";
    } else {
        return nullptr;
    }
    run.model.FileFixed[rec] = 255;
    ++run.mode.FixedFileCount;
    if (run.model.FileTab[rec].Frags >= 2) {
        ++run.counters.FragmentedFixedCount;
        AddLongPathItem(a, rec, fat::EntryName(entry, a.run.geo.CodePage), longName, mark);
    }
    return mark;
}

void SetBusy(Analysis& a, uint32_t JJ, const std::string& FName) {
    fat::FatRun& run = a.run;
    run.model.FileFixed[JJ] = 255;
    ++run.mode.FixedFileCount;
    if (run.model.FileTab[JJ].Frags > 1) {
        --run.counters.FragmentedToDo;
        if (!FName.empty() && static_cast<uint8_t>(FName[0]) != format::kErasedMark) {
            ++run.counters.FragmentedFixedCount;
            AddLongPathItem(a, JJ, FName, {}, "busy");
        }
    }
}

std::string LongPath(const Analysis& a, int32_t folderNode, const std::string& shortName,
                     const std::string& longName) {
    const fat::VolumeModel& m = a.run.model;
    std::string path = longName.empty() ? shortName : longName;
    for (int32_t node = folderNode; node >= 0; node = m.FolderTree[node].Parent) {
        const fat::FolderNode& f = m.FolderTree[node];
        path = (f.LongName.empty() ? f.Name : f.LongName) + "\\" + path;
    }
    return path;
}

ListedFile ListFile(const Analysis& a, uint32_t rec, const std::string& shortName,
                    const std::string& longName, const std::string& mark) {
    const fat::FatRun& run = a.run;
    ListedFile file{
        LongPath(a, static_cast<int32_t>(run.model.FileFolderIdx[rec]), shortName, longName),
        run.model.FileTab[rec].Size,
        {},
        mark};
    // Walked again rather than taken from Frags, which stops counting at 255;
    // the chain was checked when the record was made.
    uint32_t c = run.model.FileTab[rec].StartCluster;
    const uint32_t last = run.geo.ClusterCount + 1;
    for (uint32_t steps = 0; c >= 2 && c <= last && steps <= last; ++steps) {
        if (!file.Runs.empty() && file.Runs.back().first + file.Runs.back().second == c) {
            ++file.Runs.back().second;
        } else {
            file.Runs.emplace_back(c, 1);
        }
        const uint32_t v = run.model.Fat[c] & kFatMask;
        if (v >= fat::kFatReservedFirst) break;
        c = v;
    }
    return file;
}

void AddLongPathItem(Analysis& a, uint32_t rec, const std::string& shortName,
                     const std::string& longName, const std::string& mark) {
    ListedFile file = ListFile(a, rec, shortName, longName, mark);
    const std::string tag =
        mark.empty() ? disk::FormatSectors(file.Size / format::kSectorSize) : mark;
    a.lstInuse.push_back(file.Path + " (" + tag + ")");
    a.inuseFiles.push_back(std::move(file));
}

}  // namespace kestra::analysis
