// kestra-cli checksum and validate on a volume made by mkfs.fat and mtools.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "integration/cli.h"
#include "support/test_env.h"
#include "tools/volume_records.h"

namespace kestra::testing {
namespace {

std::string Text(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFile(path);
    return {bytes.begin(), bytes.end()};
}

// Where the tools keep the records of a volume given by path (drive c:).
tools::RecordFiles RecordsOf(const std::string& volume, const std::string& home) {
    platform::VolumeCatalogue catalogue;
    catalogue.Map('C', volume);
    tools::RecordFiles files;
    std::string error;
    EXPECT_TRUE(tools::FindRecordFiles(catalogue, home, "c:", files, error)) << error;
    return files;
}

// The first sector of the data area of a FAT12/16 image.
uint64_t DataStart(const std::string& img) {
    const std::vector<uint8_t> b = ReadFile(img);
    const uint64_t reserved = b[14] | b[15] << 8, fats = b[16], roots = b[17] | b[18] << 8;
    return reserved + fats * (b[22] | b[23] << 8) + roots * 32 / 512;
}

// A FAT16 volume of 24 files in the root, 1 to 24 KB; with `label` empty,
// new contents for the files of the volume that is there.
void MakeRootFiles(const std::string& img, const std::string& label, const TempDir& dir) {
    std::string script = "MTOOLS_SKIP_CHECK=1; true";
    if (!label.empty())
        script += " && mkfs.fat -C -F 16 -n " + label + " " + ShellQuote(img) + " 20000 >/dev/null";
    for (int i = 1; i <= 24; ++i) {
        const std::string f = ShellQuote(dir.File("f" + std::to_string(i)));
        script += " && head -c " + std::to_string(i * 1000 + 1) + " /dev/urandom > " + f +
                  " && mcopy -o -i " + ShellQuote(img) + " " + f + " ::/";
    }
    const CommandResult made = RunCommand(script);
    ASSERT_EQ(made.exitStatus, 0) << made.output;
}

TEST(CliToolsTest, ReadErrorsAreNoDifferencesAndRecordsBelongToOneVolume) {
    TempDir dir;
    const std::string a = dir.File("a.img"), b = dir.File("b.img"), home = dir.File("home");
    MakeRootFiles(a, "ALPHA", dir);
    MakeRootFiles(b, "BETA", dir);
    const std::string env = "KESTRA_HOME=" + ShellQuote(home) + " ";
    // Reads of a.img's data area from its 200th sector on fail with EIO.
    const std::string eio =
        env + "LD_PRELOAD=" + ShellQuote(KESTRA_PREAD_SHIM) +
        " PREAD_FAULT_PATH=a.img PREAD_FAULT_FROM=" + std::to_string((DataStart(a) + 200) * 512) +
        " PREAD_FAULT_TO=" + std::to_string(20000ull * 1024);
    auto tool = [&](const std::string& prefix, const std::string& what, const std::string& img) {
        return RunCommand(prefix + " " + Cli(what + " " + ShellQuote(img)));
    };
    ASSERT_EQ(tool(env, "checksum", a).exitStatus, 0);
    const tools::RecordFiles records = RecordsOf(a, home);
    const std::string sums = Text(records.Checksum);

    // Another volume has no records: refused, nothing written anywhere.
    CommandResult r = tool(env, "validate", b);
    EXPECT_EQ(r.exitStatus, 3) << r.output;
    EXPECT_EQ(r.output, "File not found: " + RecordsOf(b, home).Checksum + "\n");
    EXPECT_FALSE(std::filesystem::exists(RecordsOf(b, home).Folder));

    // Failed reads part-way: listed as unreadable, the reference kept whole.
    r = tool(eio, "validate", a);
    EXPECT_EQ(r.exitStatus, 3) << r.output;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.output, m, std::regex("\nNo Differences\n(\\d+) Unreadable\n")))
        << r.output;
    const int unreadable = std::stoi(m[1]);
    EXPECT_GT(unreadable, 5);
    EXPECT_LT(unreadable, 24);
    EXPECT_NE(r.output.find("c:\\f24  (unreadable)\n"), std::string::npos) << r.output;
    EXPECT_EQ(Text(records.Checksum), sums);
    r = tool(eio + " PREAD_FAULT_AFTER=30", "validate", a);
    EXPECT_EQ(r.exitStatus, 3) << r.output;
    EXPECT_EQ(Text(records.Checksum), sums);
    // A checksum run that meets them says how many and keeps the old record.
    r = tool(eio, "checksum", a);
    EXPECT_EQ(r.exitStatus, 3) << r.output;
    EXPECT_NE(r.output.find("\n" + std::to_string(unreadable) + " Unreadable, " + records.Checksum +
                            " not written\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(Text(records.Checksum), sums);

    r = tool(env, "validate", a);
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(r.output.find("\nNo Differences\n"), std::string::npos) << r.output;
    EXPECT_EQ(Text(records.Checksum), sums);
}

TEST(CliToolsTest, InterruptedValidateStopsWithFiveAfterADifference) {
    TempDir dir;
    const std::string img = dir.File("a.img"), home = dir.File("home");
    MakeRootFiles(img, "ALPHA", dir);
    const std::string env = "KESTRA_HOME=" + ShellQuote(home) + " ";
    ASSERT_EQ(RunCommand(env + Cli("checksum " + ShellQuote(img))).exitStatus, 0);
    const std::string sums = Text(RecordsOf(img, home).Checksum);
    MakeRootFiles(img, "", dir);  // every file changed, the volume the same

    // A real SIGINT arrives while the first file is read.
    const CommandResult r =
        RunCommand(env + "LD_PRELOAD=" + ShellQuote(KESTRA_PREAD_SHIM) +
                   " PREAD_FAULT_PATH=a.img PREAD_FAULT_SIGINT=1 PREAD_FAULT_FROM=" +
                   std::to_string(DataStart(img) * 512) + " PREAD_FAULT_TO=" +
                   std::to_string(20000ull * 1024) + " " + Cli("validate " + ShellQuote(img)));
    EXPECT_EQ(r.exitStatus, 5) << r.output;
    EXPECT_NE(r.output.find("\n1 Differences\nUser stop\n"), std::string::npos) << r.output;
    EXPECT_EQ(Text(RecordsOf(img, home).Checksum), sums);
}

TEST(CliToolsTest, HostFolderNamesWithLineEndsAndBackslashesRoundTrip) {
    TempDir dir;
    const std::filesystem::path folder = std::filesystem::path(dir.File("m")) / "a\\b\nc";
    std::filesystem::create_directories(folder);
    WriteFile((folder / "new\nline").string(), {'1'});
    WriteFile((folder / "back\\slash").string(), {'2'});
    const std::string env = "KESTRA_HOME=" + ShellQuote(dir.File("home")) + " ";
    const std::string drive = " --drive m=" + ShellQuote(dir.File("m")) + " m";
    CommandResult r = RunCommand(env + Cli("checksum" + drive));
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(r.output.find("Files=2  Subdirs=2\n"), std::string::npos) << r.output;
    r = RunCommand(env + Cli("validate" + drive));
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(r.output.find("\nNo Differences\n"), std::string::npos) << r.output;
    WriteFile((folder / "back\\slash").string(), {'3'});
    r = RunCommand(env + Cli("validate" + drive));
    EXPECT_EQ(r.exitStatus, 1) << r.output;
    EXPECT_TRUE(r.output.ends_with("\nm:\\a%5Cb%0Ac\\back%5Cslash\n")) << r.output;
}

}  // namespace
}  // namespace kestra::testing
