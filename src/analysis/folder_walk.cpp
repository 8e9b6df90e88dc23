#include "analysis/folder_walk.h"

#include <algorithm>

#include "disk/geometry.h"
#include "fat/chains.h"
#include "format/dir_entry.h"

namespace kestra::analysis {
namespace {

using format::kDirEntrySize;
using format::kSectorSize;

// Reads `sectors` sectors from `first`, `chunk` at a time, into the walk,
// stopping after `entries` slots.
WalkEnd ReadRun(fat::FatRun& run, int64_t first, uint64_t sectors, uint32_t chunk,
                uint64_t& entries, EntryWalk& walk, const SlotVisitor& visit) {
    std::vector<uint8_t> buffer(size_t{std::min<uint64_t>(chunk, sectors)} * kSectorSize);
    for (uint64_t done = 0; done < sectors && entries > 0; done += chunk) {
        const uint64_t count = std::min<uint64_t>(chunk, sectors - done);
        run.io.SetNextSector(first + static_cast<int64_t>(done));
        if (!run.io.ReadSectors(buffer.data(), count * kSectorSize)) return WalkEnd::ReadError;
        const uint64_t slots = std::min<uint64_t>(count * format::kEntriesPerSector, entries);
        entries -= slots;
        if (!walk.Feed(buffer.data(), slots * kDirEntrySize, visit)) return WalkEnd::Stopped;
    }
    return WalkEnd::Done;
}

}  // namespace

bool EntryWalk::Feed(const uint8_t* bytes, size_t size, const SlotVisitor& visit) {
    for (size_t at = 0; at + kDirEntrySize <= size; at += kDirEntrySize) {
        FolderSlot slot;
        slot.bytes = bytes + at;
        slot.entryNo = entryNo_++;
        slot.pastEnd = ended_;
        if (!ended_) {
            slot.kind = FeedSlot(longNames_, slot.bytes);
            if (slot.kind == Slot::End) ended_ = true;
            if (slot.kind == Slot::Entry) slot.longName = longNames_.Take(slot.bytes);
        }
        if (!visit(slot)) return false;
    }
    return true;
}

WalkEnd ForEachEntry(fat::FatRun& run, uint32_t cluster, const SlotVisitor& visit, uint32_t chunk) {
    EntryWalk walk;
    if (cluster == 0) {
        uint64_t entries = run.geo.RootEntryCount;
        return ReadRun(run, disk::RootDirSector(run.geo), disk::RootDirSectors(run.geo), chunk,
                       entries, walk, visit);
    }
    fat::Extents extents;
    fat::GetExtents(run, cluster, extents);
    if (run.flags.RunError) return WalkEnd::BadChain;
    uint64_t entries = UINT64_MAX;
    for (uint32_t x = 1; x <= extents.Count(); ++x) {
        const WalkEnd end = ReadRun(run, disk::ClusterToSector(run.geo, extents.Starts[x]),
                                    uint64_t{extents.Lens[x]} * run.geo.SectorsPerCluster, chunk,
                                    entries, walk, visit);
        if (end != WalkEnd::Done) return end;
    }
    return WalkEnd::Done;
}

std::vector<PathName> SplitPath(const std::string& path) {
    std::vector<PathName> names;
    size_t from = 0;
    while (from <= path.size()) {
        const size_t to = std::min(path.find_first_of("/\\", from), path.size());
        if (to > from) names.push_back({path.substr(from, to - from), to});
        from = to + 1;
    }
    return names;
}

}  // namespace kestra::analysis
