#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestra::testing {

struct CommandResult {
    int exitStatus = -1;  // the shell's exit status; -1 when it could not run
    std::string output;   // stdout followed by stderr, interleaved as written
};

// Runs `command` through /bin/sh with stderr merged into stdout.
CommandResult RunCommand(const std::string& command);

// Single-quotes `text` for the shell.
std::string ShellQuote(const std::string& text);
// The SHA-256 of a file's bytes, in hex.
std::string Sha(const std::string& path);

// Writes bytes to a file, leaving all-zero stretches as holes so large volumes
// cost little disk.
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

// A fresh directory under the system temp folder, removed with its contents.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// A temp file path that is deleted on destruction (the file need not exist).
class TempFile {
  public:
    explicit TempFile(const std::string& name = "image.img") : path_(dir_.File(name)) {}
    const std::string& path() const { return path_; }

  private:
    TempDir dir_;
    std::string path_;
};

// The outside checkers. `image` may carry mtools' "@@offset" suffix.
CommandResult FsckCheck(const std::string& imagePath);  // fsck.fat -n
CommandResult Mdir(const std::string& image, const std::string& dosPath = "::/");

}  // namespace kestra::testing
