// kestra-cli checksum and validate on a volume made by mkfs.fat and mtools.
#include <gtest/gtest.h>

#include <regex>

#include "integration/cli.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

std::string Text(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFile(path);
    return {bytes.begin(), bytes.end()};
}

TEST(CliToolsTest, ValidateReportsTheChangedAndTheErasedFileAndRemembersTheChange) {
    TempDir dir;
    const std::string img = dir.File("vol.img"), home = dir.File("home");
    MakeFragmentedVolume(img, "-F 16 -s 1", 20000);
    const std::string env = "KESTRA_HOME=" + ShellQuote(home) + " MTOOLS_SKIP_CHECK=1 ";
    auto tool = [&](const std::string& what) {
        return RunCommand(env + Cli(what + " " + ShellQuote(img)));
    };
    const CommandResult sums = tool("checksum");
    ASSERT_EQ(sums.exitStatus, 0) << sums.output;
    EXPECT_NE(sums.output.find("Files=13  Subdirs=4\n"), std::string::npos) << sums.output;
    const std::string before = Text(home + "/Checksum.c");

    const CommandResult changed = RunCommand(env + "head -c 999 /dev/urandom > " + dir.File("new") +
                                             " && mcopy -o -i " + img + " " + dir.File("new") +
                                             " ::/DOCS/F0.BIN && mdel -i " + img + " ::/E1.TXT");
    ASSERT_EQ(changed.exitStatus, 0) << changed.output;
    const CommandResult first = tool("validate");
    EXPECT_EQ(first.exitStatus, 1) << first.output;
    // The root's files were recorded before those of its folders.
    EXPECT_TRUE(first.output.ends_with("1 Differences\n1 Erased\n" + home +
                                       "/Checksum.c updated\n" + "See: " + home + "/CheckLog.c\n" +
                                       "c:\\E1.TXT  (erased)\nc:\\DOCS\\F0.BIN\n"))
        << first.output;
    // Only the changed file's record was rewritten.
    const std::string after = Text(home + "/Checksum.c");
    size_t differing = 0;
    std::istringstream a(before), b(after);
    for (std::string x, y; std::getline(a, x) && std::getline(b, y);)
        differing += x != y && x.find("\"F0.BIN\"") != std::string::npos;
    EXPECT_EQ(differing, 1u);
    EXPECT_EQ(before.size() - before.find("\"F0.BIN\""), after.size() - after.find("\"F0.BIN\""));

    const CommandResult second = tool("validate");
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_TRUE(second.output.ends_with("No Differences\n1 Erased\nSee: " + home +
                                        "/CheckLog.c\nc:\\E1.TXT  (erased)\n"))
        << second.output;
    const std::regex date("-- Checksum=c: \\d+/\\d+/\\d+ \\d+:\\d\\d:\\d\\d [AP]M --\r\n");
    const std::string log = Text(home + "/CheckLog.c");
    EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), date), {}), 2) << log;
    EXPECT_EQ(Text(home + "/Checksum.c"), after);
}

}  // namespace
}  // namespace kestra::testing
