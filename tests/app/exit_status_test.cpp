#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <map>

#include "app/exit_status.h"
#include "platform/system_info.h"
#include "report/error_boxes.h"
#include "support/test_env.h"

namespace kestra::app {
namespace {

using report::ErrorBox;

// The boxes name the repair tool found on PATH (by its full path: it is not on
// an ordinary user's) when they are shown: another one rewords the internal,
// disk and structure boxes; the busy box names a volume that holds another
// box's whole text; and another box shown after it leaves a different wording
// on screen. The exit status follows the kind alone.
TEST(ExitStatusTest, ABoxsWordingChangesNoExitStatus) {
    const ErrorBox kinds[] = {ErrorBox::Internal, ErrorBox::NoMemory, ErrorBox::Disk,
                              ErrorBox::Structure, ErrorBox::Busy};
    const int statuses[] = {kExitInternal, kExitInternal, kExitDisk, kExitStructure, kExitBusy};
    testing::TempDir elsewhere;
    testing::WriteFile(elsewhere.File("fsck.fat"), {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h'});
    ASSERT_EQ(::chmod(elsewhere.File("fsck.fat").c_str(), 0755), 0);
    const std::string path = std::getenv("PATH");
    const std::string tool = platform::RepairToolPath();
    ASSERT_EQ(tool.substr(tool.find_last_of('/')), "/fsck.fat") << "dosfstools is needed";
    std::map<ErrorBox, std::string> asWorded;
    for (const bool reworded : {false, true}) {
        ::setenv("PATH", (reworded ? elsewhere.path().string() : path).c_str(), 1);
        for (size_t k = 0; k < 5; ++k) {
            const ErrorBox kind = kinds[k], other = kinds[(k + 3) % 5];
            platform::VolumeCatalogue catalogue;
            platform::QuietUiHost ui;
            platform::ManualClock clock;
            run::RunContext ctx(catalogue, ui, clock);
            ctx.RunDone = true;
            ctx.report.Main.Volume = reworded ? report::BoxText(other) : "c: (card.img)";
            report::PendingFlag(ctx.flags, kind) = true;
            ASSERT_TRUE(report::Check4Errors(ctx.report));
            const std::string named = "run " + (reworded ? elsewhere.File("fsck.fat") : tool);
            const bool namesTool = kind != ErrorBox::NoMemory && kind != ErrorBox::Busy;
            EXPECT_TRUE(!namesTool || ui.lastBoxText.find(named) != std::string::npos);
            EXPECT_EQ(ui.lastBoxText.find("ScanDisk"), std::string::npos);
            if (!reworded) {
                asWorded[kind] = ui.lastBoxText;
            } else {
                // The no-memory box has no part that can change.
                EXPECT_EQ(ui.lastBoxText == asWorded[kind], kind == ErrorBox::NoMemory);
                ui.MessageBox(report::BoxText(other), report::kAppTitle, {});
            }
            EXPECT_EQ(ExitStatusFor(ctx), statuses[k]) << ui.lastBoxText;
        }
    }
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(report::DriveBusyText().substr(0, 18), "The drive is busy.");
}

}  // namespace
}  // namespace kestra::app
