// kestra-cli info against volumes made by mkfs.fat, judged by what minfo reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>

#include "integration/cli.h"
#include "support/image.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

// The numbers minfo prints as "name: value" or "name=value".
std::map<std::string, uint64_t> MinfoFields(const std::string& image) {
    const CommandResult r = Minfo(image);
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    std::map<std::string, uint64_t> fields;
    static const std::regex line(R"(^\s*([A-Za-z ()]+?)\s*[:=]\s*(\d+))");
    std::istringstream in(r.output);
    for (std::string s; std::getline(in, s);) {
        std::smatch m;
        if (std::regex_search(s, m, line)) fields[m[1]] = std::stoull(m[2]);
    }
    return fields;
}

struct Expected {
    uint64_t clusterSectors;
    uint64_t clusters;
};

// Cluster size and count derived from minfo's boot-sector figures.
Expected FromMinfo(const std::string& image) {
    auto f = MinfoFields(image);
    const uint64_t total = f["small size"] != 0 ? f["small size"] : f["big size"];
    const uint64_t fatLength = f["sectors per fat"] != 0 ? f["sectors per fat"] : f["Big fatlen"];
    const uint64_t rootSectors = (f["max available root directory slots"] * 32 + 511) / 512;
    const uint64_t spc = f["cluster size"];
    EXPECT_GT(spc, 0u);
    const uint64_t data =
        total - f["reserved (boot) sectors"] - f["fats"] * fatLength - rootSectors;
    return {spc, data / spc};
}

std::string InfoLine(const std::string& output, const std::string& prefix) {
    std::istringstream in(output);
    for (std::string s; std::getline(in, s);) {
        if (s.rfind(prefix, 0) == 0) return s;
    }
    return {};
}

// The free bytes mdir prints under a listing ("66 058 752 bytes free").
uint64_t MdirFreeBytes(const std::string& image) {
    const CommandResult r = Mdir(image);
    std::smatch m;
    static const std::regex free(R"(([\d ]+) bytes free)");
    EXPECT_TRUE(std::regex_search(r.output, m, free)) << r.output;
    std::string digits = m[1];
    digits.erase(std::remove(digits.begin(), digits.end(), ' '), digits.end());
    return std::stoull(digits);
}

struct Case {
    const char* name;
    const char* mkfs;  // options; the size in KB follows
    uint32_t kilobytes;
    const char* type;
};

class CliInfoTest : public ::testing::TestWithParam<Case> {};

TEST_P(CliInfoTest, ReportsTheClusterSizeAndCountMinfoSees) {
    const Case& c = GetParam();
    TempDir dir;
    const std::string image = dir.File("vol.img");
    const CommandResult made = RunCommand("mkfs.fat -C " + std::string(c.mkfs) + " " + image + " " +
                                          std::to_string(c.kilobytes));
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    RunCommand("printf 'hello' > " + dir.File("a.txt") + " && MTOOLS_SKIP_CHECK=1 mcopy -i " +
               image + " " + dir.File("a.txt") + " ::/A.TXT");
    const Expected want = FromMinfo(image);

    const CommandResult info = RunCommand(Cli("info " + image));
    ASSERT_EQ(info.exitStatus, 0) << info.output;
    EXPECT_EQ(InfoLine(info.output, "AllocUnit=")
                  .rfind("AllocUnit=" + std::to_string(want.clusterSectors / 2) + "Kb  Size=", 0),
              0u)
        << info.output;
    const std::string typeLine = InfoLine(info.output, "Type=");
    EXPECT_EQ(typeLine.substr(0, typeLine.find("  FreeClusters")),
              std::string("Type=") + c.type + "  Clusters=" + std::to_string(want.clusters) +
                  "  ClusterBytes=" + std::to_string(want.clusterSectors * 512));
    EXPECT_NE(InfoLine(info.output, "Drive=c: [KESTRA]  FAT").size(), 0u) << info.output;
    EXPECT_EQ(typeLine.substr(typeLine.find("FreeClusters=") + 13),
              std::to_string(MdirFreeBytes(image) / (want.clusterSectors * 512)));

    // The same volume inside an MBR disk, as partition 3.
    const std::string disk = dir.File("disk.img");
    WriteFile(disk, WrapInMbr(ReadFile(image), 3, 4096));
    const CommandResult inner = RunCommand(Cli("info " + disk + "@3"));
    ASSERT_EQ(inner.exitStatus, 0) << inner.output;
    EXPECT_EQ(InfoLine(inner.output, "Type="), typeLine);
}

INSTANTIATE_TEST_SUITE_P(Volumes, CliInfoTest,
                         ::testing::Values(Case{"Fat12Floppy", "-F 12 -n KESTRA", 1440, "FAT12"},
                                           Case{"Fat16", "-F 16 -s 4 -n KESTRA", 32768, "FAT16"},
                                           Case{"Fat32", "-F 32 -s 8 -n KESTRA", 300000, "FAT32"},
                                           Case{"Fat32SmallClusters", "-F 32 -s 1 -n KESTRA", 66000,
                                                "FAT32"}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kestra::testing
