// The helpers every test leans on to reach the outside tools and the disk.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/image.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

TEST(ImageBuilderEnv, RunCommandReportsStatusAndBothStreams) {
    const CommandResult r = RunCommand("echo out; echo err >&2; exit 3");
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_EQ(r.output, "out\nerr\n");
    // Quoting survives names with quotes and spaces.
    const std::string awkward = "it's a \"name\" with $HOME";
    EXPECT_EQ(RunCommand("printf %s " + ShellQuote(awkward)).output, awkward);
}

TEST(ImageBuilderEnv, FilesRoundTripAroundHolesTempDirsVanishAndFillerIsStable) {
    std::filesystem::path kept;
    {
        TempDir dir;
        kept = dir.path();
        // Data, a long zero stretch, data, then trailing zeros that must still count.
        std::vector<uint8_t> bytes(300 * 1024);
        bytes[0] = 1;
        bytes[200 * 1024 + 5] = 2;
        WriteFile(dir.File("holes.img"), bytes);
        EXPECT_EQ(ReadFile(dir.File("holes.img")), bytes);
        // Rewriting a shorter file truncates the old one.
        WriteFile(dir.File("holes.img"), {7, 8});
        EXPECT_EQ(ReadFile(dir.File("holes.img")), (std::vector<uint8_t>{7, 8}));
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
    // Filler is the same for a seed whatever its length, so a file can grow and keep its start.
    const auto longer = SeededBytes(7, 5000);
    EXPECT_EQ(std::vector<uint8_t>(longer.begin(), longer.begin() + 64), SeededBytes(7, 64));
    EXPECT_NE(SeededBytes(7, 64), SeededBytes(8, 64));
}

}  // namespace
}  // namespace kestra::testing
