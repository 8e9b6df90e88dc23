#pragma once

// The host's files as the tools read them.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "format/dir_entry.h"

namespace kestra::platform {

struct FsEntry {
    std::string Name;  // as the file system gives it, the long name where there is one
    uint8_t Attr = 0;  // format::Attr bits; the host view fills in what it can
    int64_t Size = 0;
};

// One file open for reading, front to back.
class FsFile {
  public:
    virtual ~FsFile() = default;
    virtual int64_t Size() const = 0;
    // Reads the next `bytes` bytes; false on a failed or short read.
    virtual bool Read(uint8_t* buffer, size_t bytes) = 0;
};

// Whether a path names something, and whether that could be told.
enum class Found { Yes, No, Unreadable };

// A drive's files as an ordinary file system presents them, read only. Paths
// are relative to the drive's root, names escaped (platform/escaped_names.h)
// and joined by "\": "" is the root, "\DOCS\read%5Cme.txt" the file
// "read\me.txt" in a folder.
class FileSystemView {
  public:
    virtual ~FileSystemView() = default;
    // The folder's entries in the file system's own order, volume labels
    // left out. False with `error` set when the folder cannot be read.
    virtual bool List(const std::string& folder, std::vector<FsEntry>& entries,
                      std::string& error) = 0;
    // No when nothing of that name exists; Unreadable when a folder on the way
    // (or the entry itself) cannot be read.
    virtual Found Stat(const std::string& path, FsEntry& entry) = 0;
    // Nothing when the file cannot be opened.
    virtual std::unique_ptr<FsFile> Open(const std::string& path) = 0;
    // Makes later reads come from the medium rather than from memory.
    virtual void DropCachedPages() {}
};

using ViewPtr = std::unique_ptr<FileSystemView>;

// A folder of the host standing in for a drive. Only folders and regular
// files are listed: a link to a folder is not followed (no loops), and
// devices and pipes are never opened.
ViewPtr HostFolderView(const std::string& root);

// Drops what the page cache holds of a file or block device; false when the
// system would not.
bool DropCachedPages(const std::string& path);

bool IsDirectory(const std::string& path);

}  // namespace kestra::platform
