// The file list, the JSON report and the progress line of kestra-cli, judged by
// mtools' reading of the same volumes and by the status lines of the same runs.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "integration/cli.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

using nlohmann::json;

// The value after "Key=" in a status line of the output.
std::string Field(const std::string& output, const std::string& key) {
    const size_t at = ("\n" + output).find("\n" + key + "=");
    if (at == std::string::npos) return "";
    const std::string rest = output.substr(at + key.size() + 1);
    return rest.substr(0, rest.find_first_of(",\n"));
}

struct Case {
    const char* name;
    const char* mkfs;
    uint32_t kilobytes;
    bool fat32;
};

class CliReportTest : public ::testing::TestWithParam<Case> {};

TEST_P(CliReportTest, ListAndJsonAgreeWithMtoolsAndTheStatusLines) {
    const Case& c = GetParam();
    TempDir dir;
    const std::string img = dir.File("vol.img");
    MakeFragmentedVolume(img, c.mkfs, c.kilobytes);
    const json info = json::parse(RunCommand(Cli("info --json " + img + " 2>/dev/null")).output);
    const uint32_t clusters = info["geometry"]["clusters"];
    const Independent want = CountWithMtools(img, clusters + 1, c.fat32);

    const CommandResult text = RunCommand(Cli("check " + img));
    ASSERT_EQ(text.exitStatus, 0) << text.output;
    std::map<std::string, int> listed;
    static const std::regex line(R"(\n  (.+) \([^,]+, (\d+) fragments\))");
    for (auto it = std::sregex_iterator(text.output.begin(), text.output.end(), line);
         it != std::sregex_iterator(); ++it) {
        listed[(*it)[1]] = std::stoi((*it)[2]);
    }
    const std::map<std::string, int> found(want.fragmentedFiles.begin(),
                                           want.fragmentedFiles.end());
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(listed, found) << text.output;

    const CommandResult tool = RunCommand(Cli("check --json " + img + " | python3 -m json.tool"));
    ASSERT_EQ(tool.exitStatus, 0) << tool.output;
    const json j = json::parse(tool.output);
    EXPECT_EQ(j["exitStatus"], 0);
    EXPECT_EQ(j["geometry"]["type"], info["geometry"]["type"]);
    EXPECT_EQ(std::to_string(j["counters"]["fragmentedFiles"].get<int>()),
              Field(text.output, "Fragmented files"));
    EXPECT_EQ(std::to_string(j["counters"]["files"].get<int>()), Field(text.output, "Files"));
    using Gaps = std::vector<std::pair<uint32_t, uint32_t>>;
    EXPECT_EQ(j["gapsAfter"].get<Gaps>(), want.gaps);
    EXPECT_EQ(j["gapsBefore"], j["gapsAfter"]);
    std::map<std::string, int> inJson;
    for (const json& f : j["fragmentedFiles"])
        inJson[f["path"]] = f["fragments"];
    EXPECT_EQ(inJson, found);

    // A defragmentation with and without the progress line prints the same, and
    // logs the same, but for its timing.
    const std::string copy = dir.File("copy.img");
    RunCommand("cp " + img + " " + copy);
    const CommandResult plain = RunCommand(
        Cli("defrag --log " + dir.File("a.log") + " " + img + " 2>" + dir.File("a.err")));
    const CommandResult shown = RunCommand(Cli("defrag --progress --log " + dir.File("b.log") +
                                               " " + copy + " 2>" + dir.File("b.err")));
    ASSERT_EQ(plain.exitStatus, 0) << plain.output;
    static const std::regex timing(R"(Time=[\d.]+,  Mb/Sec=[\d.]+)");
    auto same = [](const std::string& a) { return std::regex_replace(a, timing, ""); };
    EXPECT_EQ(same(shown.output), same(plain.output));
    const auto Text = [](const std::string& path) {
        const std::vector<uint8_t> b = ReadFile(path);
        return std::string(b.begin(), b.end());
    };
    EXPECT_EQ(same(Text(dir.File("b.log"))), same(Text(dir.File("a.log"))));
    EXPECT_TRUE(Text(dir.File("a.err")).empty());
    EXPECT_NE(Text(dir.File("b.err")).find("moved"), std::string::npos);

    // After the moves, nothing is left in pieces and the free space is one gap.
    const json done = json::parse(RunCommand(Cli("check --json " + copy)).output);
    EXPECT_TRUE(done["fragmentedFiles"].empty());
    EXPECT_EQ(done["gapsAfter"].size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Volumes, CliReportTest,
                         ::testing::Values(Case{"Fat12", "-F 12", 1440, false},
                                           Case{"Fat16", "-F 16 -s 4", 32768, false},
                                           Case{"Fat32", "-F 32 -s 1", 66000, true}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kestra::testing
