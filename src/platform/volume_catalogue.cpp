#include "platform/volume_catalogue.h"

#include <cctype>
#include <vector>

#include "format/boot_sector.h"
#include "format/fat_entry.h"
#include "platform/volume_check.h"

namespace kestra::platform {

using format::FatType;

QueryResult QueryVolume(SectorDevice& device, const format::CodePage& codePage) {
    QueryResult result;
    uint8_t sector[kSectorSize];
    if (!device.Read(0, 1, sector)) {
        result.openError = OpenError::Io;
        result.message = "cannot read the boot sector";
        return result;
    }
    const format::BootRecord boot = format::ParseBootRecord(sector);
    const VolumeProblem problem = CheckVolumeStart(device, sector);
    result.message = problem.text;
    result.partitionHint = problem.partition;
    if (!result.message.empty()) return result;

    const FatType type = boot.Type();
    const uint32_t clusters = boot.ClusterCount();
    // Only the sectors that hold entries 0 .. clusters + 1 are needed.
    const uint64_t bytes = (uint64_t{clusters} + 2) * format::FatEntryBits(type) / 8 + 1;
    const uint32_t sectors = static_cast<uint32_t>((bytes + kSectorSize - 1) / kSectorSize);
    std::vector<uint8_t> fat(size_t{std::min(sectors, boot.FatSectors())} * kSectorSize + 2);
    if (!device.Read(boot.reservedSectors, std::min(sectors, boot.FatSectors()), fat.data())) {
        result.openError = OpenError::Io;
        result.message = "cannot read the FAT";
        return result;
    }
    uint32_t free = 0;
    for (uint32_t c = 2; c < clusters + 2; ++c) {
        if (format::ReadFatEntry(fat.data(), type, c) == 0) ++free;
    }

    const uint64_t clusterBytes = uint64_t{boot.sectorsPerCluster} * kSectorSize;
    result.ok = true;
    result.info.fileSystemName = type == FatType::Fat32 ? "FAT32" : "FAT";
    result.info.totalClusters = clusters;
    result.info.freeClusters = free;
    result.info.totalBytes = clusters * clusterBytes;
    result.info.freeBytes = free * clusterBytes;
    if (boot.hasLabel) result.info.label = format::LabelText(boot.labelBytes.data(), codePage);
    return result;
}

char VolumeCatalogue::Key(char letter) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}

void VolumeCatalogue::Map(char letter, const std::string& volume) {
    volumes_[Key(letter)] = {[this, volume](const OpenOptions& options) {
                                 OpenOptions o = options;
                                 o.writeThrough = o.writeThrough && writeThrough;
                                 return OpenSectorDevice(volume, o);
                             },
                             volume};
}

void VolumeCatalogue::MapDevice(char letter, Opener opener, std::string description) {
    volumes_[Key(letter)] = {std::move(opener), std::move(description)};
}

bool VolumeCatalogue::Overlay(char letter, std::shared_ptr<OverlaySectors> sectors) {
    const auto it = volumes_.find(Key(letter));
    if (it == volumes_.end()) return false;
    Opener opener = std::move(it->second.opener);
    it->second.opener = [opener, sectors](const OpenOptions& options) {
        OpenOptions readOnly = options;
        readOnly.writable = false;
        OpenResult opened = opener(readOnly);
        if (opened.device)
            opened.device = std::make_unique<OverlayDevice>(std::move(opened.device), sectors);
        return opened;
    };
    return true;
}

bool VolumeCatalogue::Has(char letter) const {
    return volumes_.count(Key(letter)) != 0;
}

std::string VolumeCatalogue::Describe(char letter) const {
    const auto it = volumes_.find(Key(letter));
    return it == volumes_.end() ? std::string() : it->second.description;
}

bool VolumeCatalogue::Unmap(char letter) {
    return volumes_.erase(Key(letter)) > 0;
}

char VolumeCatalogue::FreeLetter() const {
    for (char c = 'C'; c <= 'Z'; ++c) {
        if (!Has(c)) return c;
    }
    return 0;
}

std::vector<char> VolumeCatalogue::Letters() const {
    std::vector<char> letters;
    for (const auto& [letter, entry] : volumes_)
        letters.push_back(letter);
    return letters;
}

OpenResult VolumeCatalogue::Open(char letter, const OpenOptions& options) const {
    const auto it = volumes_.find(Key(letter));
    if (it == volumes_.end()) {
        OpenResult result;
        result.error = OpenError::NotFound;
        result.message = std::string("no volume for drive ") + Key(letter) + ":";
        return result;
    }
    return it->second.opener(options);
}

QueryResult VolumeCatalogue::Query(char letter) const {
    OpenResult opened = Open(letter, OpenOptions{});
    if (!opened.device) {
        QueryResult result;
        result.openError = opened.error;
        result.message = opened.message;
        return result;
    }
    QueryResult result = QueryVolume(*opened.device, codePage);
    if (!result.ok) {
        const std::string volume = Describe(letter);
        result.message =
            volume + ": " + ProblemText({result.message, result.partitionHint}, volume);
    }
    return result;
}

}  // namespace kestra::platform
