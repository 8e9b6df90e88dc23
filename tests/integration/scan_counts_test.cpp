// The counts of the analysis on volumes made by mkfs.fat and mcopy, held against
// what mtools itself reports of the same volume.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "../analysis/analysis_fixture.h"
#include "fat/free_gaps.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

struct Independent {
    uint32_t files = 0, folders = 0, empty = 0, fragmented = 0, gaps = 0;
    uint64_t freeClusters = 0;
};

// Files, folders and every chain's clusters as mdir and mshowfat list them.
Independent CountWithMtools(const std::string& img, uint32_t maxCluster, bool fat32) {
    Independent n;
    const CommandResult listing = RunCommand("MTOOLS_SKIP_CHECK=1 mdir -/ -b -i " + img + " ::/");
    std::istringstream lines(listing.output);
    std::vector<std::string> paths;
    if (fat32) paths.push_back("::/");
    for (std::string p; std::getline(lines, p);) {
        if (p.empty()) continue;
        (p.back() == '/' ? n.folders : n.files) += 1;
        if (p.back() == '/') p.pop_back();
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
        if (runs > 1) ++n.fragmented;
    }
    bool inGap = false;
    for (uint32_t c = 2; c <= maxCluster; ++c) {
        const bool free = used.count(c) == 0;
        if (free) ++n.freeClusters;
        if (free && !inGap) ++n.gaps;
        inGap = free;
    }
    return n;
}

struct Case {
    const char* name;
    const char* mkfs;
    uint32_t kilobytes;
};

class ScanCountsTest : public ::testing::TestWithParam<Case> {};

TEST_P(ScanCountsTest, AgreeWithMtools) {
    const Case& c = GetParam();
    TempDir dir;
    const std::string img = dir.File("vol.img");
    auto run = [&](const std::string& cmd) {
        const CommandResult r =
            RunCommand("cd " + dir.path().string() + " && MTOOLS_SKIP_CHECK=1 " + cmd);
        ASSERT_EQ(r.exitStatus, 0) << cmd << "\n" << r.output;
    };
    run("mkfs.fat -C " + std::string(c.mkfs) + " vol.img " + std::to_string(c.kilobytes) +
        " >/dev/null");
    run("head -c 3000 /dev/urandom > small && head -c 20000 /dev/urandom > mid && "
        "head -c 70000 /dev/urandom > big && : > empty");
    run("mmd -i vol.img ::/DOCS ::/DOCS/DEEP '::/Long folder name'");
    for (int i = 0; i < 12; ++i) {
        const std::string to = i % 3 == 0   ? "::/DOCS/"
                               : i % 3 == 1 ? "::/"
                                            : "'::/Long folder name/'";
        run("mcopy -i vol.img " + std::string(i % 2 ? "small" : "mid") + " " + to + "F" +
            std::to_string(i) + ".BIN");
    }
    run("mcopy -i vol.img empty ::/E1.TXT && mcopy -i vol.img empty ::/DOCS/DEEP/E2.TXT");
    run("mcopy -i vol.img small '::/DOCS/DEEP/A file with a long name.txt'");
    // Erased entries, and holes that the next copies fill in pieces.
    run("mdel -i vol.img ::/F1.BIN ::/DOCS/F3.BIN '::/Long folder name/F5.BIN' ::/DOCS/F9.BIN");
    // mtools allocates from the FAT32 next-free hint; point it at the start.
    if (std::string(c.mkfs).find("32") != std::string::npos) {
        run("printf '\\002\\000\\000\\000' | dd of=vol.img bs=1 seek=1004 conv=notrunc "
            "2>/dev/null");
    }
    // Into a folder without erased entries, so none is reused.
    run("mcopy -i vol.img big ::/DOCS/DEEP/BIG1.BIN && mcopy -i vol.img big ::/DOCS/DEEP/BIG2.BIN");

    analysis::AnalysisFixture f(ReadFile(img));
    ASSERT_TRUE(f.Analyse()) << f.flags.ErrText;
    const Independent want = CountWithMtools(img, f.counters.LastCluster, f.geo.IsFat32);
    ASSERT_GT(want.fragmented, 0u);

    EXPECT_EQ(f.counters.PlainFileCount, want.files);
    EXPECT_EQ(f.counters.FolderCount, want.folders + (f.geo.IsFat32 ? 1 : 0));
    EXPECT_EQ(f.counters.EmptyFileCount, want.empty);
    EXPECT_EQ(f.counters.ErasedEntryCount, 4u);
    EXPECT_EQ(f.counters.ChainCount,
              want.files + want.folders - want.empty + (f.geo.IsFat32 ? 1 : 0));
    EXPECT_EQ(f.counters.FragmentedCount, want.fragmented);
    EXPECT_EQ(f.model.GapCount, want.gaps);
    EXPECT_EQ(fat::FreeSpaceSectors(f.run), want.freeClusters * f.geo.SectorsPerCluster);
    EXPECT_EQ(f.fake->Writes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Volumes, ScanCountsTest,
                         ::testing::Values(Case{"Fat12Floppy", "-F 12", 1440},
                                           Case{"Fat16", "-F 16 -s 1", 16384},
                                           Case{"Fat32", "-F 32 -s 1", 66000}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kestra::testing
