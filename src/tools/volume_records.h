#pragma once

// Which volume the tools' records belong to.

#include <cstdint>
#include <string>

#include "platform/volume_catalogue.h"

namespace kestra::tools {

// Who a volume is, so that the records the tools keep for it are never taken
// for another volume's: where it is, and what its boot sector says it is.
struct VolumeIdentity {
    std::string Path;     // canonical path of the image, device or folder; "@N" for a partition
    uint32_t Serial = 0;  // from the extended boot record; 0 for a folder
    std::string Label;
    uint64_t Bytes = 0;  // the volume's size as its boot sector gives it
    friend bool operator==(const VolumeIdentity&, const VolumeIdentity&) = default;
};

// False with `error` set when the drive's volume cannot be opened or read.
bool IdentifyVolume(const platform::VolumeCatalogue& catalogue, char letter, VolumeIdentity& id,
                    std::string& error);

// The folder that holds one volume's checksum file and check log:
// programFolder/volumes/SERIAL_LABEL_BYTES_HASH, the hash taken over all four.
std::string RecordFolder(const std::string& programFolder, const VolumeIdentity& id);

// The files of one drive's records: its folder's "Checksum." and "CheckLog."
// with the drive entry's first character, and the "Volume" file that names the
// volume they belong to.
struct RecordFiles {
    VolumeIdentity Id;
    std::string Folder;
    std::string Checksum;
    std::string CheckLog;
    std::string Volume;
};
bool FindRecordFiles(const platform::VolumeCatalogue& catalogue, const std::string& programFolder,
                     const std::string& driveEntry, RecordFiles& files, std::string& error);

// The identity as the text of the folder's "Volume" file, and back.
std::string IdentityText(const VolumeIdentity& id);
bool ParseIdentity(const std::string& text, VolumeIdentity& id);

}  // namespace kestra::tools
