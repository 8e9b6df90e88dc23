// The file tools on host folders and on volumes made by mkfs.fat and mtools.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "platform/escaped_names.h"
#include "platform/text_files.h"
#include "run/run_context.h"
#include "support/test_env.h"
#include "tools/crc_checksum.h"
#include "tools/file_tools.h"
#include "tools/volume_records.h"

namespace kestra::testing {
namespace {

namespace fs = std::filesystem;

// CRC-16 bit by bit (polynomial 1021h, preset FFFFh, inverted at the end)
// over 204,800-byte chunks, an odd last chunk padded with a zero byte.
int16_t ExpectedSum(std::string bytes) {
    if (bytes.size() % 2) bytes += '\0';
    unsigned crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) & 0xFFFF : (crc << 1) & 0xFFFF;
    }
    return bytes.empty() ? 0 : static_cast<int16_t>(static_cast<uint16_t>(crc ^ 0xFFFF));
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
    tools::RecordFiles Records() {
        tools::RecordFiles files;
        std::string error;
        EXPECT_TRUE(tools::FindRecordFiles(catalogue, home, "c:", files, error)) << error;
        return files;
    }
    std::map<std::string, int16_t> Sums() {
        std::string text, error;
        EXPECT_TRUE(platform::ReadTextFile(Records().Checksum, text, error)) << error;
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
    ASSERT_TRUE(platform::ReadTextFile(d.Records().Checksum, text, error));
    EXPECT_EQ(text, "1,0\r\n0,\"c:\"\r\n");
    tools::TimingD(d.t);
    EXPECT_EQ(d.Lines(), (std::vector<std::string>{"Timing", "Drive=c:", "Files=0 Subdirs=1",
                                                   "Bytes=   MB/Sec=0.00",
                                                   "Time=0.0 Secs.   Rate=0 Files/Sec."}));
}

TEST(FileToolsTest, UnreadableFileIsCountedAndNeverRecorded) {
    TempDir dir;
    const std::string img = dir.File("v.img");
    const CommandResult made = RunCommand(
        "MTOOLS_SKIP_CHECK=1; mkfs.fat -C -F 16 -s 1 " + img +
        " 20000 >/dev/null && head -c 2000 /dev/urandom > " + dir.File("f") + " && mcopy -i " +
        img + " " + dir.File("f") + " ::/F && mcopy -i " + img + " " + dir.File("f") + " ::/G");
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    Drive d(img);
    tools::Timing_Checksum(d.t);
    ASSERT_EQ(tools::OutcomeOf(d.t), tools::ToolOutcome::Clean);
    const std::string sums = d.Records().Checksum;
    const std::string before = Bytes(sums);

    // F's first cluster (2) becomes the end of its chain: too short for its size.
    std::vector<uint8_t> bytes = ReadFile(img);
    const size_t fat = size_t(bytes[14] | bytes[15] << 8) * 512;
    bytes[fat + 4] = bytes[fat + 5] = 0xFF;
    WriteFile(img, bytes);
    tools::Timing_Validate(d.t);
    EXPECT_EQ(d.Lines().at(4), "No Differences");
    EXPECT_EQ(d.ctx.report.Main.Text.Lines.at(5).Text, "1 Unreadable");
    EXPECT_EQ(d.ctx.report.Main.Text.Lines.at(5).Colour, report::kTextLightRed);
    EXPECT_EQ(d.list.back(), "c:\\F  (unreadable)");
    EXPECT_EQ(tools::OutcomeOf(d.t), tools::ToolOutcome::Failed);
    EXPECT_EQ(Bytes(sums), before);

    // A checksum run that cannot read every file keeps the previous record.
    tools::Timing_Checksum(d.t);
    const std::vector<std::string> lines = d.Lines();
    EXPECT_EQ(lines.at(4), "c:\\F  (unreadable)");
    EXPECT_EQ(lines.at(5), "1 Unreadable, " + sums + " not written");
    EXPECT_EQ(tools::OutcomeOf(d.t), tools::ToolOutcome::Failed);
    EXPECT_EQ(Bytes(sums), before);
}

TEST(FileToolsTest, MissingForeignMalformedOrStoppedLeavesTheFilesAsTheyWere) {
    TempDir src;
    WriteTree(src.path());
    Drive d(src.File(""));
    const tools::RecordFiles records = d.Records();
    const std::string sums = records.Checksum, log = records.CheckLog;
    tools::Timing_Validate(d.t);
    ASSERT_EQ(d.ctx.report.Main.Text.Lines.size(), 1u);
    EXPECT_EQ(d.ctx.report.Main.Text.Lines[0].Colour, report::kTextLightRed);
    EXPECT_EQ(d.Lines()[0], "File not found: " + sums);
    EXPECT_EQ(tools::OutcomeOf(d.t), tools::ToolOutcome::Failed);

    // Records that name another volume are refused, whatever they hold.
    fs::create_directories(records.Folder);
    tools::VolumeIdentity other = records.Id;
    other.Path += "-copy";
    const std::string bad = "2,1\r\n0,\"c:\"\r\n";
    ASSERT_EQ(platform::WriteTextFile(records.Volume, tools::IdentityText(other)), "");
    ASSERT_EQ(platform::WriteTextFile(sums, bad), "");
    tools::Timing_Validate(d.t);
    EXPECT_EQ(d.Lines().at(0),
              sums + " belongs to another volume (" + other.Path + "), not to " + records.Id.Path);
    ASSERT_EQ(platform::WriteTextFile(records.Volume, tools::IdentityText(records.Id)), "");
    tools::Timing_Validate(d.t);
    EXPECT_EQ(d.ctx.report.Main.Text.Lines.at(0).Colour, report::kTextLightRed);
    EXPECT_EQ(Bytes(sums), bad);

    // Esc during the walk: the summary, "User stop", and no file written.
    int events = 0;
    d.ui.onEvents = [&] {
        if (++events == 3) d.ctx.flags.StopRequested = true;
    };
    tools::Timing_Checksum(d.t);
    EXPECT_EQ(d.Lines().back(), "User stop");
    EXPECT_EQ(tools::OutcomeOf(d.t), tools::ToolOutcome::Stopped);
    EXPECT_EQ(Bytes(sums), bad);

    d.ui.onEvents = nullptr;
    fs::remove(sums);
    tools::Timing_Checksum(d.t);
    std::ofstream(src.path() / "odd", std::ios::app) << "x";
    // Stopped just after the changed file was found: a stop, not a difference.
    d.ui.onEvents = [&] {
        if (d.list.size() > 1) d.ctx.flags.StopRequested = true;
    };
    const std::string before = Bytes(sums);
    tools::Timing_Validate(d.t);
    EXPECT_EQ(d.Lines().back(), "User stop");
    EXPECT_EQ(tools::OutcomeOf(d.t), tools::ToolOutcome::Stopped);
    EXPECT_EQ(Bytes(sums), before);
    EXPECT_FALSE(fs::exists(log));
}

// Names with any byte a host allows, on the way in and out of the records.
TEST(FileToolsTest, NamesWithLineEndsBackslashesQuotesAndPercentsRoundTrip) {
    for (const std::string name : {"a\nb", "c\\d", "q\"t", "100%41", "\r\x01\x7f\xff"})
        EXPECT_EQ(platform::UnescapeName(platform::EscapeName(name)), name);
    EXPECT_EQ(platform::EscapeName("a\nb\\c\"d%e"), "a%0Ab%5Cc%22d%25e");
    EXPECT_EQ(platform::UnescapeName("50%-%4"), "50%-%4");
    EXPECT_EQ(platform::SplitEscapedPath("\\a%5Cb\\c"), (std::vector<std::string>{"a\\b", "c"}));

    TempDir top;
    const fs::path src = top.path() / "drive";
    const std::vector<std::string> names = {"new\nline", "back\\slash", "q\"uote%41", "tab\there"};
    fs::create_directories(src / "sub\\dir\nx");
    for (const std::string& n : names) {
        std::ofstream(src / n) << n;
        std::ofstream(src / "sub\\dir\nx" / n) << n << n;
    }
    // A name that would leave the drive's folder is no name of it.
    std::ofstream(top.path() / "outside") << "secret";
    Drive d(src.string());
    tools::Timing_Checksum(d.t);
    ASSERT_EQ(tools::OutcomeOf(d.t), tools::ToolOutcome::Clean) << d.Lines().back();
    const std::string text = Bytes(d.Records().Checksum);
    EXPECT_NE(text.find("\"new%0Aline\""), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 2 + 8);
    tools::Timing_Validate(d.t);
    EXPECT_EQ(d.Lines().at(4), "No Differences");
    EXPECT_EQ(tools::OutcomeOf(d.t), tools::ToolOutcome::Clean);

    std::ofstream(src / "sub\\dir\nx" / "back\\slash", std::ios::app) << "!";
    fs::remove(src / "new\nline");
    tools::Timing_Validate(d.t);
    EXPECT_EQ(d.list.at(1), "c:\\new%0Aline  (erased)");
    EXPECT_EQ(d.list.at(2), "c:\\sub%5Cdir%0Ax\\back%5Cslash");
    EXPECT_EQ(tools::OutcomeOf(d.t), tools::ToolOutcome::Differences);

    std::unique_ptr<platform::FileSystemView> view = platform::HostFolderView(src.string());
    platform::FsEntry e;
    EXPECT_EQ(view->Stat("\\..\\outside", e), platform::Found::No);
    EXPECT_EQ(view->Stat("\\..%2F..%2Foutside", e), platform::Found::No);
    EXPECT_EQ(view->Open("\\..\\outside"), nullptr);
}

// The fold of the checksum keeps all 16 bits: random files spread over them.
TEST(FileToolsTest, ChecksumsOfRandomSmallFilesSpreadOverSixteenBits) {
    const char* check = "123456789";
    int32_t accumulator = 0;
    tools::Get_CRC_CheckSum(reinterpret_cast<const uint8_t*>(check), 9, accumulator);
    EXPECT_EQ(accumulator, 0xD64E);
    // Chunks chained through the accumulator give the CRC of the whole stream.
    accumulator = 0;
    tools::Get_CRC_CheckSum(reinterpret_cast<const uint8_t*>(check), 4, accumulator);
    tools::Get_CRC_CheckSum(reinterpret_cast<const uint8_t*>(check) + 4, 5, accumulator);
    EXPECT_EQ(accumulator, 0xD64E);

    TempDir src;
    unsigned seed = 11;
    for (int i = 0; i < 4000; ++i) {
        std::string bytes(1 + (seed = seed * 1103515245 + 12345) % 300, '\0');
        for (char& c : bytes)
            c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
        std::ofstream(src.path() / std::to_string(i), std::ios::binary) << bytes;
    }
    Drive d(src.File(""));
    tools::Timing_Checksum(d.t);
    std::set<int16_t> distinct;
    size_t unreadableValue = 0;
    for (const auto& [name, sum] : d.Sums()) {
        distinct.insert(sum);
        unreadableValue += sum == -1;
    }
    EXPECT_EQ(d.Sums().size(), 4000u);
    EXPECT_GE(distinct.size(), 3800u);
    EXPECT_LE(unreadableValue, 3u);
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
