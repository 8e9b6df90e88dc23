// Times `kestra-cli defrag --only` on one fragmented 1 GiB file of a 4 GiB
// FAT32 card against cp of the same file (with fsync), in one run; then checks
// that the file ended contiguous, that every other file kept its clusters, and
// that fsck.fat -n finds the card clean.
//
//   only_bench [DIR] [--cli PATH]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kMiB = 1 << 20;
constexpr int kSmallFiles = 240;  // 4 MiB each, every other one erased
constexpr uint64_t kBigBytes = 1024 * kMiB;

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "only_bench: %s\n", why.c_str());
    std::exit(1);
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string Output(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) Fail("cannot run " + command);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
        out.append(buffer, n);
    ::pclose(p);
    return out;
}

void Sh(const std::string& command) {
    if (std::system(command.c_str()) != 0) Fail("failed: " + command);
}

// Every file's cluster runs as mshowfat prints them, by path.
std::map<std::string, std::string> Layout(const std::string& image) {
    std::map<std::string, std::string> runs;
    std::istringstream lines(
        Output("MTOOLS_SKIP_CHECK=1 mshowfat -i " + image + " '::/*' '::/SMALL/F*' 2>/dev/null"));
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find(" <");
        if (at != std::string::npos) runs[line.substr(0, at)] = line.substr(at + 1);
    }
    return runs;
}

size_t Pieces(const std::string& runs) {
    size_t n = 0;
    for (const char c : runs)
        n += c == '<';
    return n;
}

// Drops the cached pages of a file, so both sides read from the medium.
void DropCache(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

double CopyWithFsync(const std::string& from, const std::string& to) {
    DropCache(from);
    const auto start = Clock::now();
    Sh("cp " + from + " " + to);
    const int fd = ::open(to.c_str(), O_WRONLY);
    if (fd < 0 || ::fsync(fd) != 0) Fail("fsync of the copy failed");
    ::close(fd);
    const double seconds = Seconds(start);
    fs::remove(to);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = "/tmp", cli;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--cli" && i + 1 < argc)
            cli = argv[++i];
        else
            dir = a;
    }
    if (cli.empty()) cli = (fs::path(argv[0]).parent_path().parent_path() / "kestra-cli").string();
    const fs::path work = fs::path(dir) / "kestra-only-bench";
    fs::remove_all(work);
    fs::create_directories(work);
    const std::string image = (work / "card.img").string();
    const std::string big = (work / "BIG.ISO").string();
    const std::string small = (work / "part").string();

    // A card aged the usual way: small files, every other one erased, then a
    // large image copied into the holes and on past them.
    std::printf("Building a 4 GiB FAT32 card (4 KB clusters) ...\n");
    Sh("mkfs.fat -C -F 32 -s 8 " + image + " 4194304 >/dev/null");
    Sh("head -c " + std::to_string(4 * kMiB) + " /dev/urandom > " + small);
    Sh("head -c " + std::to_string(kBigBytes) + " /dev/urandom > " + big);
    Sh("MTOOLS_SKIP_CHECK=1 mmd -i " + image + " ::/SMALL");
    std::string copies;
    for (int i = 0; i < kSmallFiles; ++i)
        copies += " && mcopy -i " + image + " " + small + " ::/SMALL/F" + std::to_string(i);
    Sh("export MTOOLS_SKIP_CHECK=1" + copies);
    std::string erase = "MTOOLS_SKIP_CHECK=1 mdel -i " + image;
    for (int i = 0; i < kSmallFiles; i += 2)
        erase += " ::/SMALL/F" + std::to_string(i);
    Sh(erase);
    // mtools allocates from the FSInfo next-free hint; point it at the start.
    Sh("printf '\\002\\000\\000\\000' | dd of=" + image +
       " bs=1 seek=1004 conv=notrunc 2>/dev/null");
    Sh("MTOOLS_SKIP_CHECK=1 mcopy -i " + image + " " + big + " ::/BIG.ISO");
    const std::map<std::string, std::string> before = Layout(image);
    const size_t pieces = Pieces(before.at("::/BIG.ISO"));
    std::printf("  BIG.ISO: 1024 MiB in %zu pieces; %zu other files\n", pieces, before.size() - 1);
    if (pieces < 2) Fail("the large file did not fragment");

    DropCache(image);
    auto start = Clock::now();
    const std::string out = Output(cli + " defrag " + image + " --only /BIG.ISO 2>&1; echo rc=$?");
    const double kestra = Seconds(start);
    if (out.find("rc=0") == std::string::npos) Fail("kestra-cli failed:\n" + out);
    const double cp = CopyWithFsync(big, big + ".copy");

    const std::map<std::string, std::string> after = Layout(image);
    size_t moved = 0;
    for (const auto& [path, runs] : before)
        moved += path != "::/BIG.ISO" && after.count(path) && after.at(path) != runs;
    const bool whole = Pieces(after.at("::/BIG.ISO")) == 1;
    const bool clean = std::system(("fsck.fat -n " + image + " >/dev/null 2>&1").c_str()) == 0;
    const bool same = std::system(("MTOOLS_SKIP_CHECK=1 mcopy -n -i " + image + " ::/BIG.ISO " +
                                   big + ".back && cmp -s " + big + " " + big + ".back")
                                      .c_str()) == 0;

    std::printf("\nkestra-cli defrag --only /BIG.ISO   %7.2f s\n", kestra);
    std::printf("cp BIG.ISO + fsync                  %7.2f s\n", cp);
    std::printf("ratio Kestra / cp                   %7.2f  (target: about 1)\n",
                cp > 0 ? kestra / cp : 0);
    std::printf("BIG.ISO contiguous: %s; other files moved: %zu; fsck.fat -n: %s; content: %s\n",
                whole ? "yes" : "NO", moved, clean ? "clean" : "NOT clean",
                same ? "identical" : "DIFFERS");
    fs::remove_all(work);
    return whole && moved == 0 && clean && same ? 0 : 1;
}
