// Volumes that once made defrag lose or damage files, each built by a script
// with mkfs.fat and mtools, on FAT12, FAT16 and FAT32: after `kestra-cli defrag`
// every one is clean, holds every file unchanged, and is packed.
#include <gtest/gtest.h>

#include <filesystem>

#include "integration/cli.h"
#include "support/image_checks.h"
#include "support/test_env.h"
#include "support/tree_checks.h"
#include "support/volume_reader.h"

namespace kestra::testing {
namespace {

struct Variant {
    const char* name;
    const char* environment;  // what the script takes instead of its own mkfs.fat choice
};

const Variant kVariants[] = {
    {"AsFound", ""},
    {"Fat16", "KESTRA_MKFS='-F 16 -s 1' KESTRA_KB=4096"},
    {"Fat32", "KESTRA_MKFS='-F 32 -s 1' KESTRA_KB=66000"},
    {"Fat12ErasedBefore", "KESTRA_ERASED_AT=before"},
    {"Fat32ErasedAfter", "KESTRA_ERASED_AT=after KESTRA_MKFS='-F 32 -s 1' KESTRA_KB=66000"},
};

std::vector<std::string> Recipes() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(KESTRA_REGRESSIONS_DIR))
        if (e.path().extension() == ".sh") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

class RegressionTest : public ::testing::TestWithParam<std::tuple<std::string, Variant>> {};

TEST_P(RegressionTest, DefragLeavesItCleanWholeAndPacked) {
    const auto& [recipe, variant] = GetParam();
    TempDir dir;
    const std::string script = std::string(KESTRA_REGRESSIONS_DIR) + "/" + recipe + ".sh";
    const CommandResult built = RunCommand("cd " + ShellQuote(dir.path().string()) + " && " +
                                           variant.environment + " bash " + ShellQuote(script));
    ASSERT_EQ(built.exitStatus, 0) << built.output;
    const std::string img = dir.File("t.img");
    ASSERT_TRUE(FsckClean(img));
    Tree before;
    ASSERT_TRUE(CopyOutTree(img, before));

    const std::string home = "KESTRA_HOME=" + ShellQuote(dir.File("home")) + " ";
    ASSERT_EQ(RunCommand(home + Cli("checksum " + img)).exitStatus, 0);
    const CommandResult r = RunCommand(Cli("defrag " + img));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    const CommandResult same = RunCommand(home + Cli("validate " + img));
    EXPECT_NE(same.output.find("\nNo Differences\n"), std::string::npos) << same.output;
    EXPECT_TRUE(FsckClean(img)) << r.output;
    Tree after;
    ASSERT_TRUE(CopyOutTree(img, after));
    EXPECT_TRUE(SameTree(before, after));
    const ReadVolume v = ReadFatVolume(ReadFile(img));
    ASSERT_EQ(v.error, "");
    for (const ReadItem& item : v.items)
        EXPECT_LE(item.Extents(), 1u) << item.path << " is still fragmented";
    ASSERT_EQ(v.gaps.size(), 1u) << r.output;
    EXPECT_EQ(v.gaps[0].first + v.gaps[0].second - 1, v.maxCluster);
}

// Every recipe as it was found, on FAT16 and on FAT32; the variants of where the
// erased entries stand only for the recipe made for them.
std::vector<std::tuple<std::string, Variant>> Cases() {
    std::vector<std::tuple<std::string, Variant>> cases;
    for (const std::string& recipe : Recipes()) {
        for (const Variant& v : kVariants) {
            const bool placed = std::string(v.environment).find("ERASED_AT") != std::string::npos;
            if (!placed || recipe == "erased-around-folders") cases.emplace_back(recipe, v);
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Recipes, RegressionTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) {
                             std::string name = std::get<0>(info.param);
                             std::erase(name, '-');
                             return name + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace kestra::testing
