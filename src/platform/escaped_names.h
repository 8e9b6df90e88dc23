#pragma once

// Names escaped for paths, lists and record files.

#include <string>
#include <string_view>
#include <vector>

namespace kestra::platform {

// A name as the tools write it in paths, lists and their record files: every
// byte as it is, except bytes below 20h, 7Fh and the characters '"', '%' and
// '\', which become "%XX" (two upper-case hex digits). Any name round-trips,
// whatever bytes the host or the volume allows in it, and "\" only ever joins
// names.
std::string EscapeName(std::string_view name);
// The name back; a "%" not followed by two hex digits stays as it is.
std::string UnescapeName(std::string_view text);
// An escaped path ("\DOCS\a%5Cb") as its names; "" is the root.
std::vector<std::string> SplitEscapedPath(std::string_view path);

}  // namespace kestra::platform
