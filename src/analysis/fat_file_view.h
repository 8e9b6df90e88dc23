#pragma once

// The files of a volume read for the tools, without writing a byte.

#include <string>

#include "format/code_page.h"
#include "platform/file_system_view.h"
#include "platform/sector_device.h"

namespace kestra::analysis {

// The files of a FAT volume read through the project's own FAT code: the
// geometry of the boot sector, the FAT, chains as extents and the long names
// of the folder scan. Nothing is ever written. Empty with `error` set when the
// volume cannot be read as FAT.
struct FatViewSource {
    std::string volume;     // as the user named it, for "use PATH@N"
    std::string cachePath;  // the image or device whose cached pages DropCachedPages drops
    format::CodePage codePage;
};
platform::ViewPtr FatFileView(platform::DevicePtr device, std::string& error,
                              const FatViewSource& source = {});

}  // namespace kestra::analysis
