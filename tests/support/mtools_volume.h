#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestra::testing {

// A volume made by mkfs.fat and filled by mtools: folders, long names, empty
// files, four erased entries and files fragmented into the holes they left.
// mkfsOptions are mkfs.fat's ("-F 16 -s 1"). Fails the test on any error.
void MakeFragmentedVolume(const std::string& image, const std::string& mkfsOptions,
                          uint32_t kilobytes);

// What mdir and mshowfat say of a volume's files, folders and clusters.
struct Independent {
    uint32_t files = 0, folders = 0, empty = 0, fragmented = 0;
    std::vector<std::pair<uint32_t, uint32_t>> gaps;  // start, length
    uint64_t freeClusters = 0;
    // Each file (not folder) in more than one run, as "C:\\DIR\\NAME", with its runs.
    std::vector<std::pair<std::string, int>> fragmentedFiles;
};
Independent CountWithMtools(const std::string& image, uint32_t maxCluster, bool fat32);

}  // namespace kestra::testing
