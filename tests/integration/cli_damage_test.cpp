// Every kind of damage fsck.fat finds on a volume stops `check` with its own
// "Err=" line, and `defrag` leaves every byte of the volume as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "integration/cli.h"
#include "support/damage_table.h"
#include "support/image.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

// The chain count text is counted for FAT12/16; FAT32 adds its root to both sides.
std::string Expected(const std::string& text, bool fat32) {
    int files = 0, chains = 0;
    if (!fat32 || std::sscanf(text.c_str(), "Files+Dirs=%d <> Chains=%d", &files, &chains) != 2)
        return text;
    return "Files+Dirs=" + std::to_string(files + 1) + " <> Chains=" + std::to_string(chains + 1);
}

const ImageOptions kVolumes[] = {ImageOptions::Floppy1440(), ImageOptions::Fat16(65536, 4),
                                 ImageOptions::Fat32(1)};

class CliDamageTest : public ::testing::TestWithParam<std::tuple<ImageOptions, DamageCase>> {};

TEST_P(CliDamageTest, CheckNamesItAndDefragWritesNothing) {
    const auto& [options, c] = GetParam();
    Damaged d = BuildDamageable(options);
    if (!c.damage(d)) GTEST_SKIP() << "no such damage on this FAT type";
    TempDir dir;
    const std::string img = dir.File("vol.img");
    WriteFile(img, d.image.bytes());
    const std::string log = dir.File("run.log");
    const CommandResult check = RunCommand(Cli("check --log " + log + " " + img));
    if (std::string(c.errText).empty()) {
        EXPECT_EQ(check.exitStatus, 0) << check.output;
        return;
    }
    // The damage is real: the independent checker sees it too.
    EXPECT_NE(FsckCheck(img).exitStatus, 0) << "fsck.fat -n found nothing";
    const std::string line = "Err=" + Expected(c.errText, d.fat32());
    EXPECT_EQ(check.exitStatus, 1) << check.output;
    EXPECT_NE(check.output.find("\n" + line + "\n"), std::string::npos) << check.output;
    EXPECT_NE(check.output.find("\nError stop\n"), std::string::npos) << check.output;
    EXPECT_NE(check.output.find("Structural errors"), std::string::npos) << check.output;
    const std::vector<uint8_t> logged = ReadFile(log);
    EXPECT_NE(std::string(logged.begin(), logged.end()).find(line + "\r\n"), std::string::npos);

    const CommandResult defrag = RunCommand(Cli("defrag " + img));
    EXPECT_EQ(defrag.exitStatus, 1) << defrag.output;
    EXPECT_TRUE(ReadFile(img) == d.image.bytes()) << "defrag wrote to a damaged volume";
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<ImageOptions, DamageCase>>& info) {
    const char* const types[] = {"Fat12", "Fat16", "Fat32"};
    return std::string(types[info.index / DamageTable().size()]) + "_" +
           std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Damage, CliDamageTest,
                         ::testing::Combine(::testing::ValuesIn(kVolumes),
                                            ::testing::ValuesIn(DamageTable())),
                         CaseName);

}  // namespace
}  // namespace kestra::testing
