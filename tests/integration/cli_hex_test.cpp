// kestra-cli hex on a FAT32 volume made by mkfs.fat and filled by mtools.
#include <gtest/gtest.h>

#include <cstdio>

#include "integration/cli.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

TEST(CliHexTest, WalksLongNamedFoldersPrintsSectorsAndLeavesTheVolumeAlone) {
    TempDir dir;
    const std::string img = dir.File("vol.img"), png = dir.File("hex.png");
    const std::string note = dir.File("note.txt");
    WriteFile(note, {'h', 'i', '\n'});
    const std::string q = ShellQuote(img);
    ASSERT_EQ(RunCommand("mkfs.fat -C -F 32 -s 2 -n HEXVOL " + q + " 80000").exitStatus, 0);
    ASSERT_EQ(RunCommand("mmd -i " + q + " ::Projects '::Projects/Kestrel Notes' && mcopy -i " + q +
                         " " + ShellQuote(note) + " '::Projects/Kestrel Notes/read me.txt'")
                  .exitStatus,
              0);
    const std::string before = Sha(img);

    // Long path, any case; two sectors of the folder, the second one empty.
    CommandResult r =
        RunCommand(Cli("hex " + q + " --dir 'projects/KESTREL NOTES' --count 2 --png " + png));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    unsigned sector = 0, index = 0;
    ASSERT_EQ(std::sscanf(r.output.c_str(), "Sector %u  kestre~1 %u/", &sector, &index), 2)
        << r.output;
    EXPECT_EQ(index, 0u);
    const std::vector<uint8_t> bytes = ReadFile(img);
    EXPECT_EQ(bytes[sector * 512ull], '.');  // the folder's "." entry
    EXPECT_NE(r.output.find("\n000  2E 20 20 20 20 20 20 20|20 20 20 10 "), std::string::npos);
    EXPECT_NE(r.output.find("  README~1TXT "), std::string::npos);
    EXPECT_NE(r.output.find("\nSector " + std::to_string(sector + 1) + "  kestre~1 1/"),
              std::string::npos);
    // One viewer picture per sector shown, one under the other.
    const std::vector<uint8_t> pic = ReadFile(png);
    ASSERT_GT(pic.size(), 24u);
    EXPECT_EQ(pic[1], 'P');
    EXPECT_EQ(pic[22] * 256 + pic[23], 2 * 329);

    // The short path leads to the same folder; an absent one is a usage error.
    r = RunCommand(Cli("hex " + q + " --dir PROJECTS/KESTRE~1 --index 0"));
    EXPECT_EQ(r.output.rfind("Sector " + std::to_string(sector) + " ", 0), 0u) << r.output;
    r = RunCommand(Cli("hex " + q + " --dir projects/nothing"));
    EXPECT_EQ(r.exitStatus, 64);
    EXPECT_NE(r.output.find("projects/nothing: no such folder"), std::string::npos);
    r = RunCommand(Cli("hex " + q + " --sector 12x"));
    EXPECT_EQ(r.exitStatus, 64);
    EXPECT_EQ(Sha(img), before);
    EXPECT_EQ(FsckCheck(img).exitStatus, 0);
}

}  // namespace
}  // namespace kestra::testing
