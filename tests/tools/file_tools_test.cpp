// The file tools on host folders and on volumes made by mkfs.fat and mtools.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/text_files.h"
#include "run/run_context.h"
#include "support/test_env.h"
#include "tools/file_tools.h"

namespace kestra::testing {
namespace {

namespace fs = std::filesystem;

// zlib's CRC-32 over 204,800-byte chunks, an odd last chunk padded with a zero
// byte, folded: high half OR low half.
int16_t ExpectedSum(std::string bytes) {
    uint32_t crc = 0;
    for (size_t at = 0; at < bytes.size(); at += 204800) {
        std::string chunk = bytes.substr(at, 204800);
        if (chunk.size() % 2) chunk += '\0';
        crc = static_cast<uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()),
                                          static_cast<uInt>(chunk.size())));
    }
    return static_cast<int16_t>(static_cast<uint16_t>((crc >> 16) | (crc & 0xFFFF)));
}

// Odd lengths, the chunk boundaries, an empty file, dot names, and folders of
// one name in two places. Sizes add up to 819,214 bytes.
const std::map<std::string, size_t> kTree = {{"e", 0},
                                             {"odd", 5},
                                             {"c1", 204800},
                                             {"c2", 204801},
                                             {"big", 409601},
                                             {"A/SUB/f", 3},
                                             {"B/SUB/A long name.txt", 4},
                                             {".dot", 7},
                                             {".hid/inner", 9}};

void WriteTree(const fs::path& root) {
    unsigned seed = 7;
    for (const auto& [name, size] : kTree) {
        fs::create_directories((root / name).parent_path());
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
        std::ofstream(root / name, std::ios::binary) << bytes;
    }
}

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One drive C: and the main window's parts the tools draw on.
struct Drive {
    TempDir dir;
    std::string home = dir.File("home");
    platform::VolumeCatalogue catalogue;
    platform::QuietUiHost ui;
    platform::ManualClock clock;
    run::RunContext ctx{catalogue, ui, clock};
    tools::ChecksumTables ck;
    std::vector<std::string> list;
    bool listVisible = false, picture = true;
    tools::ToolContext t{catalogue, ctx.report, ctx.map, clock,       home,
                         "c:",      ck,         list,    listVisible, picture};

    explicit Drive(const std::string& volume) {
        fs::create_directories(home);
        catalogue.Map('C', volume);
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const auto& l : ctx.report.Main.Text.Lines)
            lines.push_back(l.Text);
        return lines;
    }
    // Every recorded file by its path under the drive, with its checksum.
    std::map<std::string, int16_t> Sums() {
        std::string text, error;
        EXPECT_TRUE(platform::ReadTextFile(home + "/Checksum.c", text, error)) << error;
        tools::ChecksumTables read;
        EXPECT_TRUE(tools::ParseChecksumFile(text, read, error)) << error;
        std::map<std::string, int16_t> sums;
        for (size_t j = 0; j < read.CkFileName.size(); ++j) {
            std::string path = read.CkFileName[j];
            for (int64_t d = read.CkFileDir[j]; d != 0; d = read.CkDirParent[size_t(d)])
                path = read.CkDirName[size_t(d)] + "/" + path;
            sums[path] = read.CkFileSum[j];
        }
        return sums;
    }
};

std::map<std::string, int16_t> ExpectedSums(const fs::path& root) {
    std::map<std::string, int16_t> sums;
    for (const auto& [name, size] : kTree)
        if (name[0] != '.') sums[name] = ExpectedSum(Bytes(root / name));
    return sums;
}

TEST(FileToolsTest, HostFolderAndFatVolumesGiveTheChecksumsOfThePaddedChunks) {
    TempDir src;
    WriteTree(src.path());
    Drive host(src.File(""));
    tools::Timing_Checksum(host.t);
    EXPECT_EQ(host.Lines(), (std::vector<std::string>{"Checksum c:", "Files=7  Subdirs=5",
                                                      "Bytes=819,214   MB/Sec=0.00",
                                                      "Time=0.0 Secs. Rate=0 Files/Sec"}));
    EXPECT_EQ(host.Sums(), ExpectedSums(src.path()));
    EXPECT_TRUE(host.ctx.map.ShowDistribution);
    EXPECT_EQ(host.ctx.map.Distribution[0], 4);  // 0, 3, 4 and 5 bytes
    EXPECT_EQ(host.ctx.map.Distribution[9], 2);  // 204,800 and 204,801: up to 256 KB

    for (const char* mkfs : {"-F 12", "-F 16", "-F 32"}) {
        Drive fat(src.File("v.img"));
        const std::string img = ShellQuote(src.File("v.img"));
        const CommandResult made =
            RunCommand(std::string("MTOOLS_SKIP_CHECK=1; rm -f ") + img + " && mkfs.fat -C " +
                       mkfs + " " + img + " 40000 >/dev/null && cd " + ShellQuote(src.File("")) +
                       " && mcopy -s -i " + img + " A B e odd c1 c2 big .dot .hid ::/");
        ASSERT_EQ(made.exitStatus, 0) << made.output;
        tools::Timing_Checksum(fat.t);
        EXPECT_EQ(fat.Sums(), ExpectedSums(src.path())) << mkfs;
    }
}

TEST(FileToolsTest, EmptyDriveHasOneFolderAndNoBytes) {
    TempDir empty;
    Drive d(empty.File(""));
    tools::Timing_Checksum(d.t);
    std::string text, error;
    ASSERT_TRUE(platform::ReadTextFile(d.home + "/Checksum.c", text, error));
    EXPECT_EQ(text, "1,0\r\n0,\"c:\"\r\n");
    tools::TimingD(d.t);
    EXPECT_EQ(d.Lines(), (std::vector<std::string>{"Timing", "Drive=c:", "Files=0 Subdirs=1",
                                                   "Bytes=   MB/Sec=0.00",
                                                   "Time=0.0 Secs.   Rate=0 Files/Sec."}));
}

TEST(FileToolsTest, FileWhoseChainIsCutShortIsRecordedAsUnreadable) {
    TempDir dir;
    const std::string img = dir.File("v.img");
    const CommandResult made =
        RunCommand("MTOOLS_SKIP_CHECK=1; mkfs.fat -C -F 16 -s 1 " + img +
                   " 20000 >/dev/null && head -c 2000 "
                   "/dev/urandom > " +
                   dir.File("f") + " && mcopy -i " + img + " " + dir.File("f") + " ::/F");
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    // The file's first cluster (2) becomes the end of its chain.
    std::vector<uint8_t> bytes = ReadFile(img);
    const size_t fat = size_t(bytes[14] | bytes[15] << 8) * 512;
    bytes[fat + 4] = bytes[fat + 5] = 0xFF;
    WriteFile(img, bytes);
    Drive d(img);
    tools::Timing_Checksum(d.t);
    EXPECT_EQ(d.Sums(), (std::map<std::string, int16_t>{{"F", -1}}));
    tools::Timing_Validate(d.t);  // -1 again: no difference
    EXPECT_EQ(d.Lines().at(4), "No Differences");
}

TEST(FileToolsTest, MissingMalformedOrStoppedLeavesTheFilesAsTheyWere) {
    TempDir src;
    WriteTree(src.path());
    Drive d(src.File(""));
    const std::string sums = d.home + "/Checksum.c", log = d.home + "/CheckLog.c";
    tools::Timing_Validate(d.t);
    ASSERT_EQ(d.ctx.report.Main.Text.Lines.size(), 1u);
    EXPECT_EQ(d.ctx.report.Main.Text.Lines[0].Colour, report::kTextLightRed);
    EXPECT_EQ(d.Lines()[0], "File not found: " + sums);

    const std::string bad = "2,1\r\n0,\"c:\"\r\n";
    ASSERT_EQ(platform::WriteTextFile(sums, bad), "");
    tools::Timing_Validate(d.t);
    EXPECT_EQ(d.ctx.report.Main.Text.Lines.at(0).Colour, report::kTextLightRed);
    std::string text, error;
    platform::ReadTextFile(sums, text, error);
    EXPECT_EQ(text, bad);

    // Esc during the walk: the summary, "User stop", and no file written.
    int events = 0;
    d.ui.onEvents = [&] {
        if (++events == 3) d.ctx.flags.StopRequested = true;
    };
    tools::Timing_Checksum(d.t);
    EXPECT_EQ(d.Lines().back(), "User stop");
    platform::ReadTextFile(sums, text, error);
    EXPECT_EQ(text, bad);

    d.ui.onEvents = nullptr;
    fs::remove(sums);
    tools::Timing_Checksum(d.t);
    std::ofstream(src.path() / "odd", std::ios::app) << "x";
    // Stopped just after the changed file was found.
    d.ui.onEvents = [&] {
        if (d.list.size() > 1) d.ctx.flags.StopRequested = true;
    };
    const std::string before = Bytes(sums);
    tools::Timing_Validate(d.t);
    EXPECT_EQ(d.Lines().back(), "User stop");
    EXPECT_EQ(Bytes(sums), before);
    EXPECT_FALSE(fs::exists(log));
}

TEST(FileToolsTest, NumberFormats) {
    const std::vector<std::pair<int64_t, std::string>> thousands = {
        {0, ""}, {7, "7"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}};
    for (const auto& [n, text] : thousands)
        EXPECT_EQ(tools::FormatThousands(n), text);
    EXPECT_EQ(tools::FormatFixed(tools::PerSecond(5, 0), 2), "0.00");
    EXPECT_EQ(tools::FormatFixed(2.25, 1), "2.3");
}

}  // namespace
}  // namespace kestra::testing
