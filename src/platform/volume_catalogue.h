#pragma once

// The volumes of a launch, answered from their boot sectors and FATs.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "format/code_page.h"
#include "platform/code_pages.h"
#include "platform/file_device.h"
#include "platform/overlay_device.h"

namespace kestra::platform {

// What the volume queries of a launch need, answered from the boot sector and FAT.
struct VolumeInfo {
    std::string fileSystemName;  // "FAT" or "FAT32"
    uint32_t totalClusters = 0;
    uint32_t freeClusters = 0;
    uint64_t totalBytes = 0;
    uint64_t freeBytes = 0;
    std::string label;  // UTF-8, from the volume's code page
};

struct QueryResult {
    bool ok = false;
    OpenError openError = OpenError::None;  // set when the volume could not be opened or read
    std::string message;                    // why the query failed, after the volume's name
    int partitionHint = 0;                  // a disk: the partition the user meant
    VolumeInfo info;
};

// Reads the boot sector and the first FAT of an open volume.
QueryResult QueryVolume(SectorDevice& device, const format::CodePage& codePage);

// The drive list: letters mapped to volumes.
class VolumeCatalogue {
  public:
    using Opener = std::function<OpenResult(const OpenOptions&)>;

    // Maps a letter to "PATH" or "PATH@N".
    void Map(char letter, const std::string& volume);
    // Maps a letter to any device (tests use fake devices this way).
    void MapDevice(char letter, Opener opener, std::string description = "device");
    // Every later opening of the letter's volume is read-only and overlaid: what
    // a run writes stays in `sectors`. False when the letter has no volume.
    bool Overlay(char letter, std::shared_ptr<OverlaySectors> sectors);
    // Forgets a letter's volume; false when it had none.
    bool Unmap(char letter);
    bool Has(char letter) const;
    std::string Describe(char letter) const;
    // Next free letter from C on, or 0 when all are taken.
    char FreeLetter() const;
    // The mapped letters, upper case, in order.
    std::vector<char> Letters() const;

    OpenResult Open(char letter, const OpenOptions& options) const;
    QueryResult Query(char letter) const;

    // Options used for every later open, for example write-through off for images.
    bool writeThrough = true;
    // The code page of the volumes' short names and labels.
    format::CodePage codePage = DefaultCodePage();

  private:
    struct Entry {
        Opener opener;
        std::string description;
    };
    static char Key(char letter);
    std::map<char, Entry> volumes_;
};

}  // namespace kestra::platform
