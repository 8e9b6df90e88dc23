#include "support/test_env.h"

#include "platform/image_file.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace kestra::testing {

namespace {

std::string Mtools(const std::string& tool, const std::string& args) {
    return "MTOOLS_SKIP_CHECK=1 " + tool + " " + args;
}

}  // namespace

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    // The subshell makes the merge cover every command in `command`, not just the last.
    FILE* pipe = popen(("(" + command + "\n) 2>&1").c_str(), "r");
    if (!pipe) return result;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitStatus = (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string Sha(const std::string& path) {
    return RunCommand("sha256sum " + ShellQuote(path) + " | cut -c1-64").output;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string error = platform::WriteImageFile(path, bytes);
    if (!error.empty()) throw std::runtime_error(error);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    // In one read: images run to hundreds of megabytes.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        throw std::runtime_error("cannot read " + path);
    return bytes;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestra-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temp directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

CommandResult FsckCheck(const std::string& imagePath) {
    return RunCommand("fsck.fat -n " + ShellQuote(imagePath));
}

CommandResult Mdir(const std::string& image, const std::string& dosPath) {
    return RunCommand(Mtools("mdir", "-i " + ShellQuote(image) + " " + ShellQuote(dosPath)));
}

}  // namespace kestra::testing
