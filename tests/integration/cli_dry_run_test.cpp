// `defrag --dry-run` on random volumes: the image stays byte for byte and time
// stamp as it was, and the real run that follows does exactly what it said.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "image/random_volume.h"
#include "integration/cli.h"
#include "support/image_checks.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

using nlohmann::json;

// The image's name for kestra-cli: "PATH", or "PATH@N" for the MBR slot the
// volume starts at.
std::string VolumeName(const image::RandomVolume& v, const std::string& path) {
    for (int slot = 0; slot < 4 && !v.disk.empty(); ++slot) {
        uint32_t start = 0;
        std::memcpy(&start, &v.disk[446 + 16 * slot + 8], 4);
        if (start == v.start) return path + "@" + std::to_string(slot + 1);
    }
    return path;
}

timespec Mtime(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtim;
}

json Defrag(const std::string& args) {
    const CommandResult r = RunCommand(Cli("defrag --json " + args + " 2>/dev/null"));
    EXPECT_EQ(r.exitStatus, 0) << args << "\n" << r.output;
    return json::parse(r.output, nullptr, false);
}

// The status lines without the moves' timing, which no two runs share.
std::vector<std::string> Lines(const json& j) {
    static const std::regex timing(R"(Time=[\d.]+,  Mb/Sec=[\d.]+)");
    std::vector<std::string> lines;
    for (const json& line : j["statusLines"])
        lines.push_back(std::regex_replace(line.get<std::string>(), timing, "Time=*"));
    return lines;
}

TEST(CliDryRunTest, LeavesTheImageAsItWasAndForetellsTheRealRun) {
    TempDir dir;
    const std::string path = dir.File("vol.img");
    uint64_t moved = 0;
    // FAT32; FAT16 in partition 1, nearly full; FAT12 in partition 4; FAT12.
    for (const uint32_t seed : {2u, 10u, 30u, 34u}) {
        const image::RandomVolume v = image::MakeRandomVolume(seed);
        for (const std::string extra : {"", "--minimal "}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " " + extra + v.shape);
            WriteFile(path, v.Bytes());
            const std::string sha = Sha(path);
            const timespec mtime = Mtime(path);
            const std::string volume = extra + VolumeName(v, path);

            const json dry = Defrag("--dry-run " + volume);
            EXPECT_EQ(Sha(path), sha);
            EXPECT_EQ(Mtime(path).tv_sec, mtime.tv_sec);
            EXPECT_EQ(Mtime(path).tv_nsec, mtime.tv_nsec);
            const json real = Defrag(volume);
            ASSERT_TRUE(dry.is_object() && real.is_object());
            EXPECT_EQ(dry["dryRun"], true);
            EXPECT_FALSE(real.contains("dryRun"));
            EXPECT_EQ(dry["moves"], real["moves"]);
            EXPECT_EQ(dry["io"], real["io"]);
            EXPECT_EQ(dry["gapsAfter"], real["gapsAfter"]);
            EXPECT_EQ(dry["fragmentedFiles"], real["fragmentedFiles"]);
            EXPECT_EQ(Lines(dry), Lines(real));
            EXPECT_GT(dry["estimate"]["seconds"].get<double>(), 0);
            moved += real["moves"]["clusters"].get<uint64_t>();

            // fsck.fat reads a bare volume: a partition is copied out first.
            std::string part = path;
            if (!v.disk.empty()) {
                const std::vector<uint8_t> all = ReadFile(path);
                const auto first = all.begin() + size_t{v.start} * 512;
                part = dir.File("part.img");
                WriteFile(part, {first, first + static_cast<long>(v.built.bytes().size())});
            }
            EXPECT_TRUE(FsckClean(part));
        }
    }
    EXPECT_GT(moved, 0u);  // the volumes gave the runs something to do
}

}  // namespace
}  // namespace kestra::testing
