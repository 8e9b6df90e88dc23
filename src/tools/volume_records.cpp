#include "tools/volume_records.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "format/boot_sector.h"
#include "format/code_page.h"
#include "format/sector_size.h"
#include "platform/escaped_names.h"
#include "platform/file_system_view.h"
#include "platform/system_info.h"

namespace kestra::tools {
namespace {

std::string Hex(uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// Letters, digits and "-" of the label, so that the folder name is safe anywhere.
std::string FolderSafe(const std::string& label) {
    std::string safe;
    for (const char c : label) {
        const bool plain =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        safe += plain ? c : '_';
    }
    return safe.empty() ? std::string("NO-LABEL") : safe;
}

uint64_t Fnv1a(const std::string& text) {
    uint64_t h = 14695981039346656037ull;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

bool IdentifyVolume(const platform::VolumeCatalogue& catalogue, char letter, VolumeIdentity& id,
                    std::string& error) {
    id = {};
    const std::string volume = catalogue.Describe(letter);
    if (!volume.empty() && platform::IsDirectory(volume)) {
        id.Path = platform::CanonicalPath(volume);
        return true;
    }
    std::string path;
    int partition = 0;
    platform::SplitVolumePath(volume, path, partition);
    id.Path =
        platform::CanonicalPath(path) + (partition > 0 ? "@" + std::to_string(partition) : "");
    platform::OpenResult opened = catalogue.Open(letter, platform::OpenOptions{});
    uint8_t boot[format::kSectorSize];
    if (!opened.device) {
        error = opened.message;
        return false;
    }
    if (!opened.device->Read(0, 1, boot)) {
        error = volume + ": cannot read the boot sector";
        return false;
    }
    const format::BootRecord b = format::ParseBootRecord(boot);
    id.Serial = format::VolumeSerial(boot);
    // Decoded as every output shows it, so the folder reads as the label does.
    if (b.hasLabel) id.Label = format::LabelText(b.labelBytes.data(), catalogue.codePage);
    id.Bytes = uint64_t{b.totalSectors} * format::kSectorSize;
    return true;
}

std::string RecordFolder(const std::string& programFolder, const VolumeIdentity& id) {
    // A host folder has no boot sector, hence no serial number and no size.
    const std::string serial = id.Bytes != 0
                                   ? Hex(id.Serial >> 16, 4) + "-" + Hex(id.Serial & 0xFFFF, 4)
                                   : std::string("FOLDER");
    const std::string base = programFolder.empty() ? std::string(".") : programFolder;
    return base + "/volumes/" + serial + "_" + FolderSafe(id.Label) + "_" +
           std::to_string(id.Bytes) + "_" + Hex(Fnv1a(IdentityText(id)), 16);
}

bool FindRecordFiles(const platform::VolumeCatalogue& catalogue, const std::string& programFolder,
                     const std::string& driveEntry, RecordFiles& files, std::string& error) {
    files = {};
    if (driveEntry.empty() || !IdentifyVolume(catalogue, driveEntry[0], files.Id, error)) {
        return false;
    }
    files.Folder = RecordFolder(programFolder, files.Id);
    const std::string letter = driveEntry.substr(0, 1);
    files.Checksum = files.Folder + "/Checksum." + letter;
    files.CheckLog = files.Folder + "/CheckLog." + letter;
    files.Volume = files.Folder + "/Volume";
    return true;
}

std::string IdentityText(const VolumeIdentity& id) {
    return "Path=" + platform::EscapeName(id.Path) + "\r\nSerial=" + Hex(id.Serial, 8) +
           "\r\nLabel=" + platform::EscapeName(id.Label) + "\r\nBytes=" + std::to_string(id.Bytes) +
           "\r\n";
}

bool ParseIdentity(const std::string& text, VolumeIdentity& id) {
    id = {};
    std::istringstream in(text);
    int seen = 0;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return false;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        char* end = nullptr;
        if (key == "Path") {
            id.Path = platform::UnescapeName(value);
        } else if (key == "Label") {
            id.Label = platform::UnescapeName(value);
        } else if (key == "Serial") {
            id.Serial = static_cast<uint32_t>(std::strtoul(value.c_str(), &end, 16));
        } else if (key == "Bytes") {
            id.Bytes = std::strtoull(value.c_str(), &end, 10);
        } else {
            return false;
        }
        if (end && (*end != '\0' || value.empty())) return false;
        ++seen;
    }
    return seen == 4;
}

}  // namespace kestra::tools
