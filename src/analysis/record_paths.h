#pragma once

// The record a path names, after a scan.

#include <cstdint>
#include <string>
#include <vector>

#include "fat/fat_run.h"

namespace kestra::analysis {

// The record a path names after a scan: long or 8.3 names, "/" or "\" between
// them, letters in any case. "" and "/" name the root, record 0. False when an
// entry on the way is missing or not a folder.
bool FindRecord(fat::FatRun& run, const std::string& path, uint32_t& record);

// The files at or below record `top` (a file, or a folder and all it holds), in
// table order. Folders themselves are not listed.
std::vector<uint32_t> FilesBelow(const fat::VolumeModel& m, uint32_t top);

}  // namespace kestra::analysis
