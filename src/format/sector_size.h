#pragma once

// The one sector size Kestra reads and writes.

#include <cstdint>

namespace kestra::format {

inline constexpr uint32_t kSectorSize = 512;

}  // namespace kestra::format
