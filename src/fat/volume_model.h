#pragma once

// The volume in memory: FAT values, files and folders.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "format/code_page.h"
#include "format/dir_entry.h"

namespace kestra::fat {

// FAT values in memory, whatever the FAT type, in the FAT32 value space.
constexpr uint32_t kFatMask = 0x0FFFFFFF;
constexpr uint32_t kFatReservedFirst = 0x0FFFFFF0;
constexpr uint32_t kFatBad = 0x0FFFFFF7;
constexpr uint32_t kFatEndFirst = 0x0FFFFFF8;
constexpr uint32_t kFatEnd = 0x0FFFFFFF;

// One file or folder met by the folder scan.
struct FileRec {
    uint32_t StartCluster = 0;  // 0 for an empty file
    uint32_t Size = 0;
    uint8_t Attr = 0;        // format::Attr bits
    uint8_t Frags = 0;       // 1..255 (255 = 255 or more); 0 when empty or broken
    uint32_t ParentRec = 0;  // FileTab record of the folder holding the entry; 0 = root
    uint32_t EntryNo = 0;    // 32-byte entry number inside its folder, across clusters
    // The entry's 8.3 name as stored: with StartCluster, what identifies the
    // entry when it is rewritten.
    std::array<uint8_t, 11> Name{};
};

// One folder scanned, the root included, a folder before its subfolders.
struct DirRec {
    uint32_t FolderRec = 0;  // the folder's own FileTab record; 0 for the root
    uint32_t ErasedInFolder = 0;
};

struct FolderNode {
    int32_t Parent = -1;
    std::string Name;
    std::string LongName;  // from the folder's long-name entries; empty when none
};

// The in-memory picture of the volume shared by analysis, map and engine.
// Lives as long as the program; each pass sizes the tables again.
struct VolumeModel {
    std::vector<uint32_t> Fat;  // indexed by cluster
    std::vector<uint16_t> Fat16Buffer;
    std::vector<uint8_t> Fat12Buffer;
    std::vector<uint8_t> ClusterUse;

    std::vector<FileRec> FileTab;
    std::vector<uint32_t> FileFolderIdx;  // FolderTree node of each record's folder
    std::vector<uint8_t> FileFixed;       // 255: never moved
    std::vector<DirRec> DirTab;           // folders 1..DirCount
    std::vector<FolderNode> FolderTree;   // nodes 0..FolderTreeCount
    int32_t FolderTreeCount = 0;

    std::vector<uint32_t> GapStart;  // gaps 1..GapCount
    std::vector<uint32_t> GapLen;
    uint32_t GapCount = 0;
    uint32_t GapFirst = 0;

    std::vector<int32_t> MemReserve;
    std::vector<uint8_t> MoveBuffer;  // the mover's one transfer buffer
};

constexpr size_t kMoveBufferBytes = 1048576;

// What one pass counts; reset at the start of every pass.
struct RunCounters {
    uint32_t MapScale = 1;  // clusters per map box
    uint32_t LastCluster = 0;
    uint32_t FileCount = 0;
    uint32_t PlainFileCount = 0;
    uint32_t FolderCount = 0;
    uint32_t EmptyFileCount = 0;
    uint32_t ErasedEntryCount = 0;
    uint32_t DirCount = 0;
    uint32_t ChainCount = 0;
    uint32_t ChainClusters = 0;
    uint32_t FragmentedCount = 0;
    uint32_t FragmentedFixedCount = 0;
    uint32_t FragmentedToDo = 0;
    bool DefragActive = false;
    uint32_t MovedFiles = 0;
    uint64_t MovedClusters = 0;
    // The least any run could move: the fragmented files and the files lying
    // beyond the end of the data once packed. Set when the moves begin.
    uint64_t LowerBoundClusters = 0;
};

// What the user asked for and how the run holds the volume.
struct RunMode {
    bool CheckStructure = false;
    int DefragMode = -1;  // -1 view only, 0 defragment, 3 defragment and pack
    bool SharedVolume = false;
    int RunPass = 0;
    uint32_t FixedFileCount = 0;
    bool ReviewAfterDefrag = true;  // rebuild the map from the FAT after moving files
    // Pack by a plan that moves as little as it can instead of the passes.
    bool MinimalMoves = false;
};

// Growth rules of the scan's tables.
void GrowFileTab(VolumeModel& model, uint32_t record);
void GrowDirTab(VolumeModel& model, uint32_t folder);
void TrimScanTables(VolumeModel& model, const RunCounters& counters);

void FolderAdd(VolumeModel& model, int32_t parent, const std::string& name);
std::string FolderPath(const VolumeModel& model, int32_t node);
// The 8.3 name of a 32-byte directory entry as UTF-8: "README", "README.TXT".
std::string EntryName(const uint8_t* entry, const format::CodePage& codePage);

// Reserve taken before a run so that the run's own tables find memory later.
size_t MemReserveEntries(size_t fatUpperBound, uint32_t sectorsPerCluster);

}  // namespace kestra::fat
