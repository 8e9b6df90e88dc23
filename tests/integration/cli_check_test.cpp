// kestra-cli view and check as a user runs them, judged by mtools and by hashes
// of the volume before and after.
#include <gtest/gtest.h>

#include "disk/geometry.h"
#include "integration/cli.h"
#include "support/image.h"
#include "support/image_damage.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

bool HasLine(const std::string& output, const std::string& line) {
    return ("\n" + output + "\n").find("\n" + line + "\n") != std::string::npos;
}

struct Case {
    const char* name;
    const char* mkfs;
    uint32_t kilobytes;
    uint32_t sectorsPerCluster;
    bool fat32;
};

class CliCheckTest : public ::testing::TestWithParam<Case> {};

TEST_P(CliCheckTest, PrintsWhatMtoolsCounts) {
    const Case& c = GetParam();
    TempDir dir;
    const std::string img = dir.File("vol.img");
    MakeFragmentedVolume(img, c.mkfs, c.kilobytes);
    const std::string before = Sha(img);
    const CommandResult info = RunCommand(Cli("info " + img));
    const uint32_t clusters = std::stoul(info.output.substr(info.output.find("Clusters=") + 9));
    const Independent want = CountWithMtools(img, clusters + 1, c.fat32);

    const CommandResult r = RunCommand(Cli("check " + img));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    const uint32_t spc = c.sectorsPerCluster;
    EXPECT_TRUE(HasLine(r.output, std::string("Drive=c:  ") + (c.fat32 ? "FAT32" : "FAT")))
        << r.output;
    EXPECT_TRUE(HasLine(r.output, "AllocUnit=" + std::to_string(spc / 2) +
                                      "Kb  Size=" + disk::FormatSectors(uint64_t{clusters} * spc)));
    EXPECT_TRUE(HasLine(r.output, "Files=" + std::to_string(want.files) + ",  Folders=" +
                                      std::to_string(want.folders + (c.fat32 ? 1 : 0))));
    EXPECT_TRUE(HasLine(r.output, "Fragmented files=" + std::to_string(want.fragmented)));
    EXPECT_TRUE(HasLine(r.output, "Empty Files=" + std::to_string(want.empty)));
    EXPECT_TRUE(HasLine(r.output, "Erased Files=4"));
    uint64_t small = 0, large = 0;
    for (const auto& [start, length] : want.gaps)
        (length >= 1024 / spc ? large : small) += length;
    EXPECT_TRUE(HasLine(r.output, "Small free Space=" + disk::FormatSectors(small * spc)));
    EXPECT_TRUE(HasLine(r.output, "Large free space=" + disk::FormatSectors(large * spc)));
    EXPECT_EQ(Sha(img), before);

    const CommandResult view = RunCommand(Cli("view " + img));
    ASSERT_EQ(view.exitStatus, 0) << view.output;
    EXPECT_TRUE(HasLine(view.output, "Chains=" + std::to_string(want.files + want.folders -
                                                                want.empty + (c.fat32 ? 1 : 0))));
    EXPECT_EQ(view.output.find("Files="), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Volumes, CliCheckTest,
                         ::testing::Values(Case{"Fat12Floppy", "-F 12", 1440, 1, false},
                                           Case{"Fat16", "-F 16 -s 4", 32768, 4, false},
                                           Case{"Fat32", "-F 32 -s 1", 66000, 1, true}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kestra::testing
