#include "support/mtools_volume.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "support/test_env.h"

namespace kestra::testing {

void MakeFragmentedVolume(const std::string& image, const std::string& mkfsOptions,
                          uint32_t kilobytes) {
    const std::filesystem::path path(image);
    const std::string dir = path.parent_path().string();
    const std::string name = path.filename().string();
    auto run = [&](const std::string& cmd) {
        const CommandResult r = RunCommand("cd " + dir + " && MTOOLS_SKIP_CHECK=1 " + cmd);
        ASSERT_EQ(r.exitStatus, 0) << cmd << "\n" << r.output;
    };
    run("mkfs.fat -C " + mkfsOptions + " " + name + " " + std::to_string(kilobytes) +
        " >/dev/null");
    run("head -c 3000 /dev/urandom > small && head -c 20000 /dev/urandom > mid && "
        "head -c 70000 /dev/urandom > big && : > empty");
    run("mmd -i " + name + " ::/DOCS ::/DOCS/DEEP '::/Long folder name'");
    for (int i = 0; i < 12; ++i) {
        const std::string to = i % 3 == 0   ? "::/DOCS/"
                               : i % 3 == 1 ? "::/"
                                            : "'::/Long folder name/'";
        run("mcopy -i " + name + " " + std::string(i % 2 ? "small" : "mid") + " " + to + "F" +
            std::to_string(i) + ".BIN");
    }
    run("mcopy -i " + name + " empty ::/E1.TXT && mcopy -i " + name + " empty ::/DOCS/DEEP/E2.TXT");
    run("mcopy -i " + name + " small '::/DOCS/DEEP/A file with a long name.txt'");
    // Erased entries, and holes that the next copies fill in pieces.
    run("mdel -i " + name +
        " ::/F1.BIN ::/DOCS/F3.BIN '::/Long folder name/F5.BIN' ::/DOCS/F9.BIN");
    // mtools allocates from the FAT32 next-free hint; point it at the start.
    if (mkfsOptions.find("32") != std::string::npos) {
        run("printf '\\002\\000\\000\\000' | dd of=" + name +
            " bs=1 seek=1004 conv=notrunc "
            "2>/dev/null");
    }
    // Into a folder without erased entries, so none is reused.
    run("mcopy -i " + name + " big ::/DOCS/DEEP/BIG1.BIN && mcopy -i " + name +
        " big ::/DOCS/DEEP/BIG2.BIN");
}

// Files, folders and every chain's clusters as mdir and mshowfat list them.
Independent CountWithMtools(const std::string& img, uint32_t maxCluster, bool fat32) {
    Independent n;
    const CommandResult listing = RunCommand("MTOOLS_SKIP_CHECK=1 mdir -/ -b -i " + img + " ::/");
    std::istringstream lines(listing.output);
    std::vector<std::string> paths;
    std::set<std::string> folders = {"::/"};
    if (fat32) paths.push_back("::/");
    for (std::string p; std::getline(lines, p);) {
        if (p.empty()) continue;
        (p.back() == '/' ? n.folders : n.files) += 1;
        if (p.back() == '/') {
            p.pop_back();
            folders.insert(p);
        }
        paths.push_back(p);
    }
    std::set<uint32_t> used;
    static const std::regex run(R"(<(\d+)(?:-(\d+))?>)");
    for (const std::string& p : paths) {
        const std::string out =
            RunCommand("MTOOLS_SKIP_CHECK=1 mshowfat -i " + img + " " + ShellQuote(p)).output;
        if (out.find("empty file") != std::string::npos) ++n.empty;
        int runs = 0;
        for (auto it = std::sregex_iterator(out.begin(), out.end(), run);
             it != std::sregex_iterator(); ++it) {
            const uint32_t a = std::stoul((*it)[1]);
            const uint32_t b = (*it)[2].matched ? std::stoul((*it)[2]) : a;
            for (uint32_t c = a; c <= b; ++c)
                used.insert(c);
            ++runs;
        }
        if (runs > 1) {
            ++n.fragmented;
            if (folders.count(p) != 0) continue;
            std::string path = "C:\\" + p.substr(3);
            for (char& c : path)
                c = c == '/' ? '\\' : c;
            n.fragmentedFiles.emplace_back(path, runs);
        }
    }
    for (uint32_t c = 2; c <= maxCluster; ++c) {
        if (used.count(c) != 0) continue;
        ++n.freeClusters;
        if (!n.gaps.empty() && n.gaps.back().first + n.gaps.back().second == c) {
            ++n.gaps.back().second;
        } else {
            n.gaps.emplace_back(c, 1);
        }
    }
    return n;
}

}  // namespace kestra::testing
