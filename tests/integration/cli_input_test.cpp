// kestra-cli on an image another process holds. (What a careless user hands it
// otherwise is in the case folders tests/cases/input-*.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "integration/cli.h"
#include "report/error_boxes.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"

namespace kestra::testing {
namespace {

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
