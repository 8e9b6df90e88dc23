// kestra-cli hex on a FAT32 volume made by mkfs.fat and filled by mtools.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "integration/cli.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

// The bytes of the hex lines ("000  2E 20 ...|... ") of a printed sector.
std::vector<uint8_t> HexBytes(const std::string& output) {
    std::vector<uint8_t> bytes;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 52 || line[3] != ' ' || line[4] != ' ') continue;
        for (int k = 0; k < 16; ++k)
            bytes.push_back(
                static_cast<uint8_t>(std::stoi(line.substr(5 + 3 * k, 2), nullptr, 16)));
    }
    return bytes;
}

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

    // The whole volume, boot sector to last sector, byte for byte as dd reads
    // it; one past the end is a usage error, not the last sector again.
    const uint32_t total = bytes[32] | bytes[33] << 8 | bytes[34] << 16 | uint32_t(bytes[35]) << 24;
    const std::string last = std::to_string(total - 1);
    const std::string ddOut = dir.File("last.bin");
    ASSERT_EQ(RunCommand("printf 'THE END' | dd of=" + q + " bs=512 seek=" + last +
                         " conv=notrunc status=none && dd if=" + q + " of=" + ddOut +
                         " bs=512 skip=" + last + " count=1 status=none")
                  .exitStatus,
              0);
    r = RunCommand(Cli("hex " + q + " --sector " + last));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_EQ(r.output.rfind("Sector " + last + "\n", 0), 0u) << r.output;
    EXPECT_EQ(HexBytes(r.output), ReadFile(ddOut));
    r = RunCommand(Cli("hex " + q + " --sector " + std::to_string(total)));
    EXPECT_EQ(r.exitStatus, 64) << r.output;
    EXPECT_NE(r.output.find("past the volume's last sector " + last), std::string::npos);
    EXPECT_EQ(r.output.find("\n000 "), std::string::npos);
}

}  // namespace
}  // namespace kestra::testing
