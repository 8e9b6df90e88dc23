#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/image.h"

namespace kestra::testing {

// Every file and folder of a volume as mtools reads it: "/DOCS/A.BIN" to its
// bytes, "/DOCS/" to an empty string. One recursive mcopy, so it is quick.
using Tree = std::map<std::string, std::string>;
::testing::AssertionResult CopyOutTree(const std::string& image, Tree& tree);

// The tree the builder placed, in the same form.
Tree BuiltTree(const FatImage& built);

// Same paths and same bytes; the failure names the first few differences.
::testing::AssertionResult SameTree(const Tree& want, const Tree& got);

// `fsck.fat -n` finds nothing worse than what an interrupted move may leave:
// lost clusters, FAT copies that differ (the first one intact), a stale
// free-cluster count. Any other line fails, with the whole output.
// With knownWindows, also what a cut leaves inside a folder move or compaction.
::testing::AssertionResult FsckAtWorstLostClusters(const std::string& image,
                                                   bool knownWindows = false);

}  // namespace kestra::testing
