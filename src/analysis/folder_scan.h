#pragma once

// The folder scan: every entry of the volume into the tables of the run.

#include <cstdint>
#include <string>

#include "analysis/analysis_context.h"

namespace kestra::analysis {

// The folder scan of the whole volume: every entry into FileTab, every folder
// into DirTab and FolderTree, unmovable files into FileFixed.
void Mark_Subdirs(Analysis& a);
// One folder and, depth first, its subfolders.
void FAT_Do_Subdir(Analysis& a, uint32_t Cluster, uint32_t Index, int32_t SubIdx);
// True when a file's chain does not fit its directory entry.
bool FAT_InValid_File(Analysis& a, uint32_t ClusNo, uint32_t Size, int64_t& Blks1, int64_t& Blks2);
// Fixed or busy test for the record just added (FileCount); returns the mark
// ("fixed", "busy"), or nullptr when the file may be moved.
const char* FAT_Check_Fixed(Analysis& a, const std::string& folderPath, const uint8_t* entry,
                            const std::string& longName);
// Marks a record busy while the engine runs.
void SetBusy(Analysis& a, uint32_t JJ, const std::string& FName);
// The path of an entry in a folder, from the folders' long names, with the 8.3
// name wherever a component has no long name.
std::string LongPath(const Analysis& a, int32_t folderNode, const std::string& shortName,
                     const std::string& longName);
// Adds "long path (size)", or "long path (mark)" for a file that stays where it
// is, to lstInuse, and the record's file to inuseFiles.
void AddLongPathItem(Analysis& a, uint32_t rec, const std::string& shortName,
                     const std::string& longName, const std::string& mark = {});
// A file of record rec, for the lists above.
ListedFile ListFile(const Analysis& a, uint32_t rec, const std::string& shortName,
                    const std::string& longName, const std::string& mark);

}  // namespace kestra::analysis
