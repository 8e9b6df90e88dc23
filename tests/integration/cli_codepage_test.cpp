// Short names, labels and long names written by mtools in a code page, read
// back by every command that shows them; and volumes that are not FAT at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "integration/cli.h"
#include "support/image.h"
#include "support/image_checks.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

using nlohmann::json;

// mtools in a UTF-8 locale with its code page set by a configuration file.
struct Mtools {
    Mtools(const TempDir& dir, int codePage) : rc(dir.File("mtoolsrc" + std::to_string(codePage))) {
        std::ofstream(rc) << "default_codepage=" << codePage << "\n";
    }
    CommandResult operator()(const std::string& command) const {
        return RunCommand("LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 MTOOLSRC=" + ShellQuote(rc) + " " +
                          command);
    }
    std::string rc;
};

void Must(const CommandResult& r) {
    ASSERT_EQ(r.exitStatus, 0) << r.output;
}

// A FAT12 volume of 2 KB clusters written in code page 850: short names with
// É (90h), Ø (9Dh) and Õ (E5h, stored as 05h), a folder with a long name, a
// label, and ÉTÉ.BIN in two pieces. fsck.fat takes a label beyond ASCII for
// invalid, so the volumes it judges are labelled in ASCII.
std::string CodePageVolume(const TempDir& dir, const Mtools& mtools, const std::string& label) {
    const std::string image = dir.File("cp.img");
    Must(RunCommand("mkfs.fat -C " + image + " 2048"));
    WriteFile(dir.File("one"), std::vector<uint8_t>(2048, 'a'));
    WriteFile(dir.File("three"), SeededBytes(7, 5000));
    const std::string i = "-i " + image + " ";
    for (const char* name : {"X1.TXT", "ØRE.TXT", "X3.TXT"})
        Must(mtools("mcopy " + i + dir.File("one") + " ::" + ShellQuote(name)));
    Must(mtools("mdel " + i + "::ØRE.TXT"));
    Must(mtools("mcopy " + i + dir.File("three") + " ::ÉTÉ.BIN"));  // fills the hole, then on
    Must(mtools("mcopy " + i + dir.File("one") + " ::ØRE.TXT"));
    Must(mtools("mcopy " + i + dir.File("one") + " ::ÕLE.TXT"));
    Must(mtools("mmd " + i + "::DÉJÀ"));
    Must(mtools("mcopy " + i + dir.File("one") + " " + ShellQuote("::DÉJÀ/Ärger über.txt")));
    Must(mtools("mlabel " + i + ShellQuote("::" + label)));
    return image;
}

json Json(const std::string& args, int wantStatus) {
    const CommandResult r = RunCommand(Cli(args) + " 2>/dev/null");
    EXPECT_EQ(r.exitStatus, wantStatus) << args << "\n" << r.output;
    try {
        return json::parse(r.output);
    } catch (const json::exception& e) {
        ADD_FAILURE() << args << ": " << e.what() << "\n" << r.output;
        return json::object();
    }
}

// Every file mdir lists, as "::/DIR/NAME".
std::set<std::string> MdirFiles(const Mtools& mtools, const std::string& image) {
    const CommandResult r = mtools("mdir -/ -b -i " + image + " ::");
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    std::set<std::string> files;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() != '/') files.insert(line);
    }
    return files;
}

// Our "C:\DIR\NAME" paths in mdir's form.
std::set<std::string> JsonFiles(const json& j) {
    std::set<std::string> files;
    for (const json& f : j["files"]) {
        std::string path = "::" + f["path"].get<std::string>().substr(2);
        std::replace(path.begin(), path.end(), '\\', '/');
        files.insert(path);
    }
    return files;
}

std::string MlabelLabel(const Mtools& mtools, const std::string& image) {
    const CommandResult r = mtools("mlabel -s -i " + image + " ::");
    const std::string prefix = " Volume label is ";
    std::string label = r.output.substr(r.output.find(prefix) + prefix.size());
    while (!label.empty() && (label.back() == '\n' || label.back() == ' '))
        label.pop_back();
    return label;
}

TEST(CliCodePageTest, NamesAndLabelEqualWhatMtoolsShowsInEitherPage) {
    TempDir dir;
    const Mtools cp850(dir, 850), cp437(dir, 437);
    const std::string image = CodePageVolume(dir, cp850, "ÉTÉ ØL");
    for (const auto& [option, mtools] :
         {std::pair{"", &cp850}, std::pair{"--codepage 437 ", &cp437}}) {
        SCOPED_TRACE(option);
        const json check = Json(std::string("check --json --files ") + option + image, 0);
        EXPECT_EQ(JsonFiles(check), MdirFiles(*mtools, image));
        const json info = Json(std::string("info --json ") + option + image, 0);
        EXPECT_EQ(info["label"], MlabelLabel(*mtools, image));
    }
    // The 05h byte really is on the volume, and the names differ between the pages.
    EXPECT_TRUE(MdirFiles(cp850, image).count("::/ÕLE.TXT"));
    EXPECT_TRUE(MdirFiles(cp437, image).count("::/σLE.TXT"));

    const CommandResult lines = RunCommand(Cli("check --files " + image));
    EXPECT_NE(lines.output.find("Drive=c: [ÉTÉ ØL]  FAT"), std::string::npos) << lines.output;
    EXPECT_NE(lines.output.find("C:\\ÉTÉ.BIN (4.5Kb, 2 fragments)"), std::string::npos)
        << lines.output;

    // A page the system lacks, or one of several bytes a character, is a usage error.
    for (const char* bad : {"--codepage 932", "--codepage 12345", "--codepage x", "--codepage"}) {
        const CommandResult r = RunCommand(Cli(std::string("check ") + bad + " " + image));
        EXPECT_EQ(r.exitStatus, 64) << bad << r.output;
        EXPECT_NE(r.output.find("--codepage"), std::string::npos) << r.output;
    }
}

TEST(CliCodePageTest, DefragmentsAndFindsNamesInTheirPage) {
    TempDir dir;
    const Mtools cp850(dir, 850);
    const std::string image = CodePageVolume(dir, cp850, "SUMMER");
    const std::string before = cp850("mcopy -n -i " + image + " ::ÉTÉ.BIN -").output;

    // --only matches the short name in any case, as a user types it.
    const json only = Json("defrag --json --only été.bin " + image, 0);
    ASSERT_EQ(only["fragmentedBefore"].size(), 1u) << only.dump();
    EXPECT_EQ(only["fragmentedBefore"][0]["path"], "C:\\ÉTÉ.BIN");
    EXPECT_EQ(only["moves"]["files"], 1);
    const json after = Json("defrag --json " + image, 0);
    EXPECT_EQ(after["fragmentedFiles"].size(), 0u);
    EXPECT_TRUE(FsckClean(image));
    EXPECT_EQ(cp850("mcopy -n -i " + image + " ::ÉTÉ.BIN -").output, before);

    // The viewer walks into a folder named in the page and heads it so.
    const CommandResult hex = RunCommand(Cli("hex --dir déjà " + image));
    EXPECT_EQ(hex.exitStatus, 0) << hex.output;
    EXPECT_NE(hex.output.find("déjà"), std::string::npos) << hex.output;
}

// Offsets of the root folder's entries in a FAT12/16 image.
uint64_t RootOffset(const std::vector<uint8_t>& v) {
    return (uint64_t{Get16(v, 14)} + uint64_t{v[16]} * Get16(v, 22)) * 512;
}
uint64_t FindEntry(const std::vector<uint8_t>& v, const char* raw11) {
    for (uint64_t at = RootOffset(v);; at += 32) {
        if (std::equal(raw11, raw11 + 11, v.begin() + static_cast<int64_t>(at))) return at;
    }
}

TEST(CliCodePageTest, NoByteOnTheVolumeBreaksTheJson) {
    TempDir dir;
    const Mtools cp850(dir, 850);
    const std::string image = CodePageVolume(dir, cp850, "SUMMER");
    Must(cp850("mcopy -i " + image + " " + dir.File("one") + " ::A1.TXT"));
    Must(cp850("mcopy -i " + image + " " + dir.File("one") + " " +
               ShellQuote("::Long name here.txt")));
    std::vector<uint8_t> v = ReadFile(image);
    // FFh in a name, and a long name holding a lone surrogate.
    const uint64_t a1 = FindEntry(v, "A1      TXT");
    v[a1 + 1] = 0xFF;
    const uint64_t alias = FindEntry(v, "LONGNA~1TXT");
    v[alias - 32 + 1] = 0x00, v[alias - 32 + 2] = 0xD8;
    WriteFile(image, v);
    EXPECT_TRUE(FsckClean(image));

    const json check = Json("check --json --files " + image, 0);
    const std::set<std::string> files = JsonFiles(check);
    EXPECT_TRUE(files.count("::/A\u00A0.TXT")) << check.dump();
    EXPECT_TRUE(files.count("::/\uFFFDong name here.txt")) << check.dump();
    Json("defrag --json " + image, 0);

    // A label and a name with control bytes: the check refuses the name, and
    // neither reaches the output as a control character.
    v = ReadFile(image);
    v[a1 + 1] = 0x1B;
    v[43] = 0x07;  // the boot sector's label
    WriteFile(image, v);
    const json refused = Json("check --json " + image, 1);
    EXPECT_EQ(refused["errors"]["structure"], true);
    const std::string all = refused.dump();
    EXPECT_NE(all.find("Invalid name: C:\\\\A\uFFFD.TXT"), std::string::npos) << all;
    EXPECT_EQ(all.find("\\u001b"), std::string::npos);
    const json info = Json("info --json " + image, 0);
    EXPECT_EQ(info["label"], "\uFFFDUMMER");
    Json("defrag --json " + image, 1);
}

// One line naming the volume and what it holds instead of FAT.
void ExpectRefused(const std::string& volume, const std::string& what) {
    for (const char* command : {"info", "check", "defrag", "hex", "checksum"}) {
        const CommandResult r = RunCommand(Cli(std::string(command) + " " + volume));
        SCOPED_TRACE(std::string(command) + " " + volume);
        EXPECT_EQ(r.exitStatus, 3) << r.output;
        EXPECT_NE(r.output.find(volume + ": not a FAT volume: " + what), std::string::npos)
            << r.output;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    }
}

TEST(CliCodePageTest, VolumesThatAreNotFatAreNamedForWhatTheyHold) {
    TempDir dir;
    const std::string zeros = dir.File("zeros.img");
    WriteFile(zeros, std::vector<uint8_t>(1 << 20, 0));
    ExpectRefused(zeros, "sector 0 is all zeros");

    const std::string disk = dir.File("disk.img");
    const FatImage volume = ImageBuilder(ImageOptions::Floppy1440()).Build();
    WriteFile(disk, WrapInMbr(volume.bytes(), 2, 2048));
    ExpectRefused(disk, "it starts with a partition table; use " + disk + "@2");
    EXPECT_EQ(RunCommand(Cli("check " + disk + "@2")).exitStatus, 0);

    std::vector<uint8_t> iso(40 * 2048, 0);
    const std::string cd =
        "\x01"
        "CD001\x01";
    std::copy(cd.begin(), cd.end(), iso.begin() + 16 * 2048);
    WriteFile(dir.File("cd.iso"), iso);
    ExpectRefused(dir.File("cd.iso"), "it holds an ISO 9660 (CD/DVD) file system");

    const std::string ext4 = dir.File("ext4.img");
    WriteFile(ext4, std::vector<uint8_t>(4 << 20, 0));
    const CommandResult made = RunCommand("mkfs.ext4 -q -F " + ext4);
    if (made.exitStatus != 0) GTEST_SKIP() << "mkfs.ext4: " << made.output;
    ExpectRefused(ext4, "it holds an ext4 file system");
}

}  // namespace
}  // namespace kestra::testing
