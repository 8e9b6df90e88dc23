#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/image.h"

namespace kestra::testing {

// `fsck.fat -n` finds nothing to fix (exit status 0); the output rides along on failure.
::testing::AssertionResult FsckClean(const std::string& imagePath);
// `fsck.fat -n` finds a fault and its output mentions `expected` (case-insensitive).
::testing::AssertionResult FsckFlags(const std::string& imagePath, const std::string& expected);
// Every file the builder placed reads back through mcopy with the same bytes,
// found under its long-name path. `image` may carry an "@@offset" suffix.
::testing::AssertionResult ReadsBackIdentical(const FatImage& built, const std::string& image);
}  // namespace kestra::testing
