#include "analysis/fat_file_view.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_map>

#include "analysis/folder_walk.h"
#include "disk/geometry.h"
#include "disk/volume_io.h"
#include "fat/chains.h"
#include "fat/fat_table.h"
#include "format/dir_entry.h"
#include "format/utf8.h"
#include "platform/escaped_names.h"
#include "platform/volume_check.h"

namespace kestra::analysis {
namespace {

// A folder holds at most 65,536 entries.
constexpr uint32_t kMaxFolderEntries = 65536;

std::string Lower(const std::string& s) {
    return format::LowerText(s);
}

// The 8.3 name as the ordinary file system shows it, with the case bits of
// byte 12 applied.
std::string ShortName(const uint8_t* e, const format::CodePage& codePage) {
    uint8_t baseOnly[11];
    std::memcpy(baseOnly, e, 8);
    std::memset(baseOnly + 8, ' ', 3);
    const std::string base = fat::EntryName(baseOnly, codePage);
    const std::string ext = fat::EntryName(e, codePage).substr(base.size());  // "" or ".EXT"
    const uint8_t flags = format::DirEntry(e).CaseFlags();
    return ((flags & format::kLowerBase) ? Lower(base) : base) +
           ((flags & format::kLowerExt) ? Lower(ext) : ext);
}

struct Item {
    platform::FsEntry entry;
    std::string shortName;
    uint32_t start = 0;
};

// A folder's entries in order, and where each lower-case name stands.
struct FolderItems {
    std::vector<Item> items;
    std::unordered_map<std::string, size_t> byName;
};

// Sectors of a file or folder in order, as runs of (first sector, count).
struct Runs {
    std::vector<std::pair<int64_t, uint64_t>> runs;
    uint64_t sectors = 0;
};

class FatView;

class FatFile : public platform::FsFile {
  public:
    FatFile(FatView& view, Runs runs, int64_t size)
        : view_(view), runs_(std::move(runs)), size_(size) {}
    int64_t Size() const override { return size_; }
    bool Read(uint8_t* buffer, size_t bytes) override;

  private:
    FatView& view_;
    Runs runs_;
    int64_t size_;
    uint64_t pos_ = 0;
};

class FatView : public platform::FileSystemView {
  public:
    FatView(platform::DevicePtr device, const FatViewSource& source)
        : io_(catalogue_, ui_, flags_), volume_(source.volume), cachePath_(source.cachePath) {
        io_.VolumeHandle = std::move(device);
        geo_.CodePage = source.codePage;
    }

    void DropCachedPages() override {
        if (!cachePath_.empty()) platform::DropCachedPages(cachePath_);
    }

    bool Load(std::string& error) {
        platform::SectorDevice& d = *io_.VolumeHandle;
        uint8_t boot[format::kSectorSize];
        if (!d.Read(0, 1, boot)) {
            error = "cannot read the boot sector";
            return false;
        }
        error = platform::ProblemText(platform::CheckVolumeStart(d, boot), volume_);
        if (!error.empty()) return false;
        disk::ComputeGeometry(geo_, boot);
        counters_.LastCluster = geo_.ClusterCount + 1;
        if (!fat::ReadFat(run_)) {
            error = "cannot read the FAT";
            return false;
        }
        return true;
    }

    bool List(const std::string& folder, std::vector<platform::FsEntry>& entries,
              std::string& error) override {
        entries.clear();
        const FolderItems* items = nullptr;
        if (Folder(folder, items, error) != platform::Found::Yes) return false;
        for (const Item& i : items->items)
            entries.push_back(i.entry);
        return true;
    }

    platform::Found Stat(const std::string& path, platform::FsEntry& entry) override {
        const Item* item = nullptr;
        const platform::Found found = Find(path, item);
        if (found == platform::Found::Yes) entry = item->entry;
        return found;
    }

    std::unique_ptr<platform::FsFile> Open(const std::string& path) override {
        const Item* item = nullptr;
        if (Find(path, item) != platform::Found::Yes ||
            (item->entry.Attr & format::kAttrDirectory)) {
            return nullptr;
        }
        Runs runs;
        if (item->start != 0 && !ChainRuns(item->start, runs)) return nullptr;
        // A chain too short for the size cannot be read to the end.
        if (static_cast<uint64_t>(item->entry.Size) > runs.sectors * format::kSectorSize)
            return nullptr;
        return std::make_unique<FatFile>(*this, std::move(runs), item->entry.Size);
    }

    bool ReadSectors(int64_t first, uint64_t count, uint8_t* buffer) {
        flags_ = {};
        io_.SetNextSector(first);
        return io_.ReadSectors(buffer, count * format::kSectorSize);
    }

  private:
    bool ChainRuns(uint32_t start, Runs& runs) {
        flags_ = {};
        fat::Extents ext;
        fat::GetExtents(run_, start, ext);
        if (flags_.RunError) return false;
        for (uint32_t i = 1; i <= ext.Count(); ++i) {
            const uint64_t n = uint64_t{ext.Lens[i]} * geo_.SectorsPerCluster;
            runs.runs.emplace_back(disk::ClusterToSector(geo_, ext.Starts[i]), n);
            runs.sectors += n;
        }
        return true;
    }

    // The entries of the folder at `path`, read once and kept for the view's
    // life. No when a name on the way is not a folder; Unreadable when a folder
    // cannot be read or walked.
    platform::Found Folder(const std::string& path, const FolderItems*& items, std::string& error) {
        return Folder(platform::SplitEscapedPath(path), path, items, error);
    }

    platform::Found Folder(const std::vector<std::string>& names, const std::string& path,
                           const FolderItems*& items, std::string& error) {
        uint32_t cluster = geo_.IsFat32 ? geo_.RootCluster : 0;
        std::vector<uint32_t> walked{cluster};
        for (size_t at = 0;; ++at) {
            if (!ReadFolder(cluster, error)) return platform::Found::Unreadable;
            if (at >= names.size()) break;
            const Item* sub = Lookup(folders_[cluster], names[at]);
            if (!sub || !(sub->entry.Attr & format::kAttrDirectory) || sub->start < 2) {
                error = "Path not found: " + path;
                return platform::Found::No;
            }
            // A folder that holds one of its own parents would be walked for ever.
            if (std::find(walked.begin(), walked.end(), sub->start) != walked.end()) {
                error = "Folder loop: " + path;
                return platform::Found::Unreadable;
            }
            cluster = sub->start;
            walked.push_back(cluster);
        }
        items = &folders_[cluster];
        return platform::Found::Yes;
    }

    platform::Found Find(const std::string& path, const Item*& item) {
        std::vector<std::string> names = platform::SplitEscapedPath(path);
        if (names.empty()) return platform::Found::No;
        const std::string name = names.back();
        names.pop_back();
        const FolderItems* items = nullptr;
        std::string error;
        const platform::Found folder = Folder(names, path, items, error);
        if (folder != platform::Found::Yes) return folder;
        item = Lookup(*items, name);
        return item ? platform::Found::Yes : platform::Found::No;
    }

    // Names are found as the ordinary file system finds them: either name,
    // any case.
    static const Item* Lookup(const FolderItems& folder, const std::string& name) {
        const auto it = folder.byName.find(Lower(name));
        return it == folder.byName.end() ? nullptr : &folder.items[it->second];
    }

    bool ReadFolder(uint32_t cluster, std::string& error) {
        if (folders_.count(cluster)) return true;
        FolderItems folder;
        flags_ = {};
        const WalkEnd walked = ForEachEntry(run_, cluster, [&](const FolderSlot& slot) {
            if (slot.entryNo >= kMaxFolderEntries || slot.kind == Slot::End) return false;
            if (slot.kind == Slot::Entry) AddItem(folder, slot);
            return true;
        });
        if (walked == WalkEnd::BadChain) {
            error = "Bad folder chain at cluster " + std::to_string(cluster);
            return false;
        }
        if (walked == WalkEnd::ReadError) {
            error = cluster == 0 ? "Error reading the root folder"
                                 : "Error reading the folder at cluster " + std::to_string(cluster);
            return false;
        }
        folders_[cluster] = std::move(folder);
        return true;
    }

    void AddItem(FolderItems& folder, const FolderSlot& slot) const {
        const format::DirEntry e(slot.bytes);
        Item item;
        item.shortName = ShortName(slot.bytes, geo_.CodePage);
        if (item.shortName == "." || item.shortName == "..") return;
        item.entry.Name = slot.longName.empty() ? item.shortName : slot.longName;
        item.entry.Attr = e.Attributes();
        item.start = e.StartCluster(geo_.IsFat32);
        item.entry.Size = e.IsFolder() ? 0 : e.Size();
        // The first of two entries of one name wins, as a lookup would find it.
        folder.byName.emplace(Lower(item.entry.Name), folder.items.size());
        folder.byName.emplace(Lower(item.shortName), folder.items.size());
        folder.items.push_back(std::move(item));
    }

    platform::VolumeCatalogue catalogue_;
    platform::UiHost ui_;
    report::RunFlags flags_;
    disk::VolumeIo io_;
    disk::Geometry geo_;
    fat::VolumeModel model_;
    fat::RunCounters counters_;
    fat::RunMode mode_;
    fat::FatRun run_{geo_, io_, model_, counters_, mode_, flags_};
    std::unordered_map<uint32_t, FolderItems> folders_;
    std::string volume_;
    std::string cachePath_;
};

bool FatFile::Read(uint8_t* buffer, size_t bytes) {
    uint8_t sector[format::kSectorSize];
    while (bytes > 0) {
        // The run holding pos_, and where in it.
        uint64_t sectorNo = pos_ / format::kSectorSize;
        size_t r = 0;
        while (r < runs_.runs.size() && sectorNo >= runs_.runs[r].second) {
            sectorNo -= runs_.runs[r].second;
            ++r;
        }
        if (r == runs_.runs.size()) return false;
        const int64_t first = runs_.runs[r].first + static_cast<int64_t>(sectorNo);
        const size_t inSector = pos_ % format::kSectorSize;
        size_t done = 0;
        if (inSector == 0 && bytes >= format::kSectorSize) {
            const uint64_t count =
                std::min<uint64_t>(bytes / format::kSectorSize, runs_.runs[r].second - sectorNo);
            if (!view_.ReadSectors(first, count, buffer)) return false;
            done = count * format::kSectorSize;
        } else {
            if (!view_.ReadSectors(first, 1, sector)) return false;
            done = std::min(bytes, format::kSectorSize - inSector);
            std::memcpy(buffer, sector + inSector, done);
        }
        buffer += done;
        bytes -= done;
        pos_ += done;
    }
    return true;
}

}  // namespace

platform::ViewPtr FatFileView(platform::DevicePtr device, std::string& error,
                              const FatViewSource& source) {
    if (!device) {
        error = "no volume";
        return nullptr;
    }
    auto view = std::make_unique<FatView>(std::move(device), source);
    if (!view->Load(error)) return nullptr;
    return view;
}

}  // namespace kestra::analysis
