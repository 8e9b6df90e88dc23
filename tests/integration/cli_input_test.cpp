// kestra-cli on what a careless user hands it: no volume, the wrong kind of file, a
// bad partition, a read-only image, an image another process holds. Each ends with
// one line on stderr and its own exit status, and no image changes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "integration/cli.h"
#include "report/error_boxes.h"
#include "support/image.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

struct Case {
    const char* args;  // "{}" stands for the temp folder
    int exitStatus;
    const char* stderrLine;  // a fragment of the one line on stderr; "" for none
    bool unprivileged = false;
};

TEST(CliInputTest, EveryCarelessInputEndsWithOneLineOnStderrAndItsOwnStatus) {
    TempDir dir;
    const std::string d = dir.path().string();
    // mkfs.fat's volume as itself, under a name ending in "@2", read-only, and as
    // slot 1 of an MBR disk, whole and cut short. The folder opens to nobody, who
    // runs the read-only cases: as root every file is writable.
    ASSERT_EQ(
        RunCommand("cd " + d + " && mkfs.fat -C -F 12 vol.img 1440 && cp vol.img vol@2 && " +
                   "cp vol.img ro.img && chmod 444 ro.img && chmod 755 . && mkdir folder && " +
                   ": >empty.img && mkfs.fat -C -S 4096 -F 16 4k.img 65536")
            .exitStatus,
        0);
    const std::vector<uint8_t> disk = WrapInMbr(ReadFile(d + "/vol.img"), 1);
    WriteFile(d + "/disk.img", disk);
    WriteFile(d + "/cut.img", {disk.begin(), disk.end() - 512});
    WriteFile(d + "/short.img", std::vector<uint8_t>(511, 0xF6));
    WriteFile(d + "/junk.img", std::vector<uint8_t>(64 * 512, 0x11));
    const auto hashes = [&] {
        return Sha(d + "/vol.img") + Sha(d + "/disk.img") + Sha(d + "/ro.img");
    };
    const std::string before = hashes();

    const Case cases[] = {
        {"check {}/missing.img", 3, "check: {}/missing.img: No such file or directory"},
        {"info {}/missing.img", 3, "info: {}/missing.img: No such file or directory"},
        {"view {}/folder", 3, "view: {}/folder: Is a directory"},
        {"check {}/empty.img", 3, "{}/empty.img: the file is empty"},
        {"defrag {}/short.img", 3, "{}/short.img: only 511 bytes, too short"},
        {"check /dev/null", 3, "/dev/null: not an image file or block device"},
        {"check {}/junk.img", 3, "{}/junk.img: not a FAT volume: sector 0 holds no FAT boot"},
        {"view {}/disk.img", 3,
         "{}/disk.img: not a FAT volume: it starts with a partition table; use {}/disk.img@1"},
        {"info --drive e={}/4k.img e:", 3, "{}/4k.img: sectors of 4096 bytes are not supported"},
        {"check {}/vol.img@1", 3, "{}/vol.img@1: the image has no partition table"},
        {"view {}/disk.img@2", 3, "{}/disk.img@2: partition 2 is empty"},
        {"defrag {}/disk.img@3", 3, "{}/disk.img@3: partition 3 is empty"},
        {"check {}/cut.img@1", 3, "{}/cut.img@1: partition 1 lies outside the image"},
        {"check {}/disk.img@1", 0, ""},
        {"info {}/junk.img@1", 3, "{}/junk.img@1: the image has no partition table"},
        {"check {}/vol@2", 0, ""},
        {"check {}/vol.img@0", 64, "{}/vol.img@0: '0' is not a partition number"},
        {"view {}/vol.img@5", 64, "'5' is not a partition number"},
        {"defrag {}/vol.img@x", 64, "'x' is not a partition number"},
        {"info {}/vol.img@", 64, "no partition number after '@'"},
        {"check --drive c={}/vol.img@12 c", 64, "'12' is not a partition number"},
        {"defrag {}/ro.img", 3, "defrag: {}/ro.img: Permission denied", true},
        {"check {}/ro.img", 0, "", true},
        {"view {}/ro.img", 0, "", true},
        {"info", 64, "no volume given"},
        {"info --bogus {}/vol.img", 64, "unknown option --bogus"},
        {"check d", 64, "drive D: is not mapped"},
        {"frobnicate", 64, "unknown command"},
    };
    const std::string nobody =
        ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const auto expand = [&](std::string text) {
        for (size_t at; (at = text.find("{}")) != std::string::npos;)
            text.replace(at, 2, d);
        return text;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string command = (c.unprivileged ? nobody : "") + Cli(expand(c.args));
        const CommandResult r = RunCommand(command + " 2>&1 >/dev/null");
        EXPECT_EQ(r.exitStatus, c.exitStatus) << r.output;
        if (*c.stderrLine == 0) {
            EXPECT_EQ(r.output, "");
            continue;
        }
        EXPECT_EQ(r.output.rfind("kestra-cli", 0), 0u) << r.output;
        EXPECT_NE(r.output.find(expand(c.stderrLine)), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << r.output;  // one line
    }
    EXPECT_EQ(hashes(), before);
}

// flock(1) stands for another program: the lock is its own, not one of ours.
TEST(CliInputTest, AVolumeAnotherProcessHoldsIsNeverWritten) {
    TempDir dir;
    const std::string img = dir.File("vol.img");
    MakeFragmentedVolume(img, "-F 12", 1440);
    const std::string before = Sha(img);

    // The busy box names the volume; its lines reach stderr without their CRs.
    std::string busy = report::DriveBusyText("c: (" + img + ")");
    busy.erase(std::remove(busy.begin(), busy.end(), '\r'), busy.end());
    CommandResult r = RunCommand("flock -x -o " + img + " " + Cli("check " + img));
    EXPECT_EQ(r.exitStatus, 2) << r.output;
    EXPECT_NE(r.output.find(busy), std::string::npos) << r.output;

    // Shared: a view may run beside it, a defragmentation may not.
    r = RunCommand("flock -s -o " + img + " " + Cli("defrag " + img));
    EXPECT_EQ(r.exitStatus, 2) << r.output;
    EXPECT_NE(r.output.find(busy), std::string::npos) << r.output;
    EXPECT_EQ(Sha(img), before);
    r = RunCommand("flock -s -o " + img + " " + Cli("check " + img));
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(r.output.find("Shared volume"), std::string::npos) << r.output;
    EXPECT_EQ(Sha(img), before);

    // Alone, the same defragmentation does write.
    r = RunCommand(Cli("defrag " + img));
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_NE(Sha(img), before);
}

}  // namespace
}  // namespace kestra::testing
