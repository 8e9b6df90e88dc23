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
// With extrasAllowed, paths beyond `want` are not differences: an entry that
// stands twice, once without its long name, shows up under its 8.3 name too.
::testing::AssertionResult SameTree(const Tree& want, const Tree& got, bool extrasAllowed = false);

// fsck.fat -n finds `image` clean and it holds exactly the files of `before`.
::testing::AssertionResult CleanAndHolds(const std::string& image, const Tree& before);

// What a cut may leave beyond lost clusters, in the windows no order of
// single-sector writes can close on FAT. No data is lost in either; fsck repairs both.
struct CutWindows {
    // A moved folder's subfolder still names the old place in "..".
    bool staleDotDot = false;
    // A FAT12 entry that straddles two FAT sectors half written by a torn write:
    // it belongs to a chain no entry points at (new, or just freed).
    bool tornFat12Entry = false;
};

// `fsck.fat -n` finds nothing worse than what an interrupted move may leave:
// the run's in-use mark, lost clusters, FAT copies that differ (the first one
// intact), a stale free-cluster count, a FAT32 boot sector standing without
// its backup while the root moves, and what `windows` allows. Any other line fails, with the
// whole output.
::testing::AssertionResult FsckAtWorstLostClusters(const std::string& image,
                                                   CutWindows windows = {});

// `fsck.fat -a` on a copy of the image leaves it clean for `fsck.fat -n`, every
// file of `want` as it was, and on FAT32 the backup boot sector naming the
// root sector 0 names. Where fsck.fat gives up because a full fixed root has
// no room for the lost clusters it saves, what it leaves is judged as a cut is.
::testing::AssertionResult RepairedByFsck(const std::string& image, const Tree& want);

}  // namespace kestra::testing
