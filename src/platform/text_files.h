#pragma once

// Whole text files read and written.

#include <string>

namespace kestra::platform {

// Writes `text` as the whole new content of a file; empty on success, else why not.
std::string WriteTextFile(const std::string& path, const std::string& text);
// The whole content of a file; false with `error` set when it cannot be read.
bool ReadTextFile(const std::string& path, std::string& text, std::string& error);
// The file's last change in local time as "12/7/2026 5:04:01 AM"; empty when
// the file cannot be asked.
std::string ModifiedText(const std::string& path);

}  // namespace kestra::platform
