#include "support/test_env.h"

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

bool AllZero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

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

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    constexpr size_t kBlock = 64 * 1024;
    bool ok = ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
    for (size_t at = 0; ok && at < bytes.size(); at += kBlock) {
        const size_t n = std::min(kBlock, bytes.size() - at);
        if (AllZero(bytes.data() + at, n)) continue;
        ok = ::pwrite(fd, bytes.data() + at, n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
    }
    ::close(fd);
    if (!ok) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
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

CommandResult Minfo(const std::string& image) {
    return RunCommand(Mtools("minfo", "-i " + ShellQuote(image)));
}

CommandResult McopyOut(const std::string& image, const std::string& dosPath) {
    // stderr is dropped here: mixing it into the file bytes would spoil the compare.
    return RunCommand("(" +
                      Mtools("mcopy", "-n -i " + ShellQuote(image) + " " + ShellQuote(dosPath) +
                                          " - 2>/dev/null") +
                      ")");
}

}  // namespace kestra::testing
