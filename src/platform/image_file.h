#pragma once

// Volume images written as sparse files.

#include <cstdint>
#include <string>
#include <vector>

namespace kestra::platform {

// Writes a whole volume image to a file, leaving all-zero stretches as holes so
// that large, mostly empty images cost little disk. Empty on success, else why.
std::string WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace kestra::platform
