#pragma once

// One folder walk: a folder's entries in order with their long names, and the
// splitter of the paths users type. It lives in analysis/, over fat/ and disk/,
// so that the scan, the tools' file view, record paths and the viewer above
// (which reads the sectors itself and feeds them in) all use it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "analysis/long_names.h"
#include "fat/fat_run.h"

namespace kestra::analysis {

// One 32-byte slot of a folder. Past the end mark, slots are handed on as
// they are (pastEnd), unread by the long-name collector.
struct FolderSlot {
    const uint8_t* bytes = nullptr;
    uint32_t entryNo = 0;  // across the folder's sectors
    Slot kind = Slot::End;
    bool pastEnd = false;
    std::string longName;  // of an Entry; empty when it has none
};

// Returns false to stop the walk.
using SlotVisitor = std::function<bool(const FolderSlot&)>;

// Slots fed piece by piece, long names gathered across the pieces.
class EntryWalk {
  public:
    // The slots of `size` bytes (whole entries); false once the visitor stopped.
    bool Feed(const uint8_t* bytes, size_t size, const SlotVisitor& visit);
    bool Ended() const { return ended_; }

  private:
    LongNameCollector longNames_;
    uint32_t entryNo_ = 0;
    bool ended_ = false;
};

enum class WalkEnd { Done, Stopped, BadChain, ReadError };

// The slots of the folder whose first cluster is `cluster`, or of the fixed
// FAT12/16 root (0), which holds RootEntryCount entries whatever its last
// sector holds. Read `chunk` sectors at a time, so a damaged chain cannot ask
// for gigabytes. BadChain leaves the chain's error in the run's flags.
WalkEnd ForEachEntry(fat::FatRun& run, uint32_t cluster, const SlotVisitor& visit,
                     uint32_t chunk = 128);

// A path as users type it: names between "/" or "\", empty ones skipped, each
// with the offset in `path` just past it.
struct PathName {
    std::string name;
    size_t end = 0;
};
std::vector<PathName> SplitPath(const std::string& path);

}  // namespace kestra::analysis
