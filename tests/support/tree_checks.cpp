#include "support/tree_checks.h"

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

#include "support/image_checks.h"
#include "support/test_env.h"

namespace kestra::testing {

::testing::AssertionResult CopyOutTree(const std::string& image, Tree& tree) {
    namespace fs = std::filesystem;
    tree.clear();
    TempDir out;
    const CommandResult r = RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -s -n -i " + ShellQuote(image) +
                                       " '::/*' " + ShellQuote(out.path().string() + "/"));
    // An empty root makes mcopy fail without anything being wrong.
    if (r.exitStatus != 0 && !fs::is_empty(out.path()))
        return ::testing::AssertionFailure() << "mcopy -s exit " << r.exitStatus << ":\n"
                                             << r.output;
    const size_t base = out.path().string().size();
    for (const auto& e : fs::recursive_directory_iterator(out.path())) {
        const std::string path = e.path().string().substr(base);
        if (e.is_directory()) {
            tree[path + "/"];
        } else {
            const std::vector<uint8_t> bytes = ReadFile(e.path().string());
            tree[path].assign(bytes.begin(), bytes.end());
        }
    }
    return ::testing::AssertionSuccess();
}

Tree BuiltTree(const FatImage& built) {
    Tree tree;
    for (NodeId id = 1; id < built.NodeCount(); ++id) {
        const NodeInfo& n = built.Node(id);
        if (n.isFolder)
            tree[n.path + "/"];
        else
            tree[n.path].assign(n.content.begin(), n.content.end());
    }
    return tree;
}

::testing::AssertionResult SameTree(const Tree& want, const Tree& got, bool extrasAllowed) {
    std::ostringstream why;
    int shown = 0;
    for (const auto& [path, bytes] : want) {
        const auto it = got.find(path);
        if (it == got.end()) {
            if (shown++ < 8) why << "  missing: " << path << "\n";
        } else if (it->second != bytes) {
            if (shown++ < 8)
                why << "  differs: " << path << " (" << it->second.size() << " bytes read back, "
                    << bytes.size() << " written)\n";
        }
    }
    for (const auto& [path, bytes] : got) {
        if (!extrasAllowed && want.count(path) == 0 && shown++ < 8)
            why << "  extra: " << path << "\n";
    }
    if (shown == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << shown << " differences:\n" << why.str();
}

::testing::AssertionResult FsckAtWorstLostClusters(const std::string& image, CutWindows windows) {
    const CommandResult r = FsckCheck(image);
    if (r.exitStatus == 0) return ::testing::AssertionSuccess();
    // The first FAT is the one the write order keeps whole; a choice of the
    // second would mean the first was damaged.
    static const std::regex allowed[] = {
        std::regex(R"(fsck\.fat \d.*)"),
        std::regex(R"(.*: \d+ files, \d+/\d+ clusters)"),
        std::regex(R"(Leaving filesystem unchanged\.)"),
        std::regex(R"(FATs differ but appear to be intact\.)"),
        std::regex(R"(\s*Using first FAT\.)"),
        std::regex(R"(Reclaimed \d+ unused clusters? \(\d+ bytes\)( in \d+ chains?)?\.)"),
        std::regex(R"(Free cluster summary wrong \(\d+ vs\. really \d+\))"),
        std::regex(R"(Free cluster summary uninitialized \(should be \d+\))"),
        std::regex(R"(\s*Auto-correcting\.)"),
        std::regex(R"(\s*)"),
        // The run's mark: on FAT32 only sector 0 carries it, not its backup.
        std::regex(
            R"(Dirty bit is set\. Fs was not properly unmounted and some data may be corrupt\.)"),
        std::regex(R"(\s*Automatically removing dirty bit\.)"),
        std::regex(R"(There are differences between boot sector and its backup\.)"),
        std::regex(R"(This is mostly harmless\. Differences: \(offset:original/backup\))"),
        std::regex(R"(\s*65:01/00)"),
        std::regex(R"(\s*Not automatically fixing this\.)"),
        // While a FAT32 root move switches the backup, sector 0 stands alone.
        std::regex(R"(There is no backup boot sector\.)"),
        std::regex(R"(\s*Auto-creating backup boot block\.)"),
        std::regex(R"(Created backup of boot sector in sector \d+)"),
    };
    static const std::regex path(R"(\s*/.*)");
    static const std::regex dotDot(R"(\s*Invalid '\.\.' entry in the second slot\. Fixing\.)");
    static const std::regex outOfRange(
        R"(\s*Cluster \d+ out of range \(\d+ > \d+\)\. Setting to EOF\.)");
    std::istringstream lines(r.output);
    std::ostringstream bad;
    for (std::string line; std::getline(lines, line);) {
        bool ok = false;
        for (const std::regex& re : allowed)
            ok = ok || std::regex_match(line, re);
        // fsck names the path before each finding.
        ok = ok || (windows.staleDotDot && std::regex_match(line, path));
        ok = ok || (windows.staleDotDot && std::regex_match(line, dotDot));
        ok = ok || (windows.tornFat12Entry && std::regex_match(line, outOfRange));
        if (!ok) bad << "  " << line << "\n";
    }
    // Exit 1 is "errors found"; anything else means fsck itself failed.
    if (bad.str().empty() && r.exitStatus == 1) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "fsck.fat -n exit " << r.exitStatus << ", lines beyond lost clusters:\n"
           << bad.str() << "whole output:\n"
           << r.output;
}

::testing::AssertionResult RepairedByFsck(const std::string& image, const Tree& want) {
    const std::string copy = image + ".repaired";
    std::vector<uint8_t> bytes = ReadFile(image);
    WriteFile(copy, bytes);
    const CommandResult repair = RunCommand("fsck.fat -a " + ShellQuote(copy));
    const CommandResult after = FsckCheck(copy);
    // fsck.fat saves lost clusters as files in the root; a full fixed root
    // makes it give up, leaving what it found. That is its limit, not damage.
    const bool rootFull = repair.output.find("Root directory is full.") != std::string::npos;
    if (rootFull && FsckAtWorstLostClusters(copy)) return ::testing::AssertionSuccess();
    if (after.exitStatus != 0)
        return ::testing::AssertionFailure() << "after fsck.fat -a:\n"
                                             << repair.output << "fsck.fat -n:\n"
                                             << after.output;
    Tree got;
    auto same = CopyOutTree(copy, got);
    // What fsck.fat reclaims comes back as files of its own.
    if (same) same = SameTree(want, got, true);
    if (!same) return ::testing::AssertionFailure() << "after fsck.fat -a: " << same.message();
    bytes = ReadFile(copy);
    const bool fat32 = bytes[22] == 0 && bytes[23] == 0;
    const size_t backup = size_t{bytes[50]} | size_t{bytes[51]} << 8;
    if (fat32 && backup != 0 &&
        !std::equal(bytes.begin() + 44, bytes.begin() + 48, bytes.begin() + backup * 512 + 44)) {
        return ::testing::AssertionFailure() << "after fsck.fat -a the backup boot sector "
                                                "names another root";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult CleanAndHolds(const std::string& image, const Tree& before) {
    const ::testing::AssertionResult fsck = FsckClean(image);
    if (!fsck) return fsck;
    Tree now;
    const ::testing::AssertionResult read = CopyOutTree(image, now);
    return read ? SameTree(before, now) : read;
}

}  // namespace kestra::testing
