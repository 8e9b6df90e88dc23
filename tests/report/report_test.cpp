#include <gtest/gtest.h>

#include <tuple>

#include "report/error_boxes.h"
#include "report/run_status.h"
#include "report/status_lines.h"

namespace kestra::report {
namespace {

using platform::BoxIcon;

struct ReportFixture : ::testing::Test {
    RunFlags flags;
    platform::QuietUiHost ui;
    std::vector<std::string> events;
    ReportContext ctx{flags, ui, [this] {
                          events.push_back("release with " +
                                           std::to_string(ctx.Main.Text.Lines.size()) + " lines");
                      }};
};

TEST_F(ReportFixture, ReportShowLineJoinsTheLogWithCrLfOnlyAndNeverLogsTheCancelHint) {
    ShowLine(ctx, "Drive C:");
    ShowLine(ctx, "");
    ShowCancelHint(ctx);
    ShowLine(ctx, "Done");
    EXPECT_EQ(ctx.Main.LogText, "Drive C:\r\n\r\nDone");
    EXPECT_EQ(ctx.Main.Text.CancelHint, "Press Esc to cancel");
    EXPECT_TRUE(ctx.Main.Text.lblCountVisible);
    ASSERT_EQ(ctx.Main.Text.Lines.size(), 3u);
    EXPECT_EQ(ctx.Main.Text.Lines[0].Y, 3);
    EXPECT_GT(ctx.Main.Text.Lines[1].Y, 3);
    EXPECT_GT(ctx.Main.Text.Lines[2].Y, ctx.Main.Text.CancelHintY);  // below the hint
    EXPECT_EQ(ui.eventRounds, 3);

    flags.DropLocksFlag = true;  // no events while the write locks are held
    ShowLine(ctx, "Moving");
    EXPECT_EQ(ui.eventRounds, 3);

    ClearText(ctx);
    EXPECT_TRUE(ctx.Main.Text.Lines.empty());
    EXPECT_FALSE(ctx.Main.Text.lblCountVisible);
    EXPECT_EQ(ctx.Main.Text.CurrentY, 3);
    EXPECT_EQ(ctx.Main.LogText, "Drive C:\r\n\r\nDone\r\nMoving");
}

TEST_F(ReportFixture, ReportErrorsReleaseTheVolumeNoticesDoNot) {
    ShowError(ctx, "Err=5");
    EXPECT_EQ(events, std::vector<std::string>{"release with 0 lines"});
    EXPECT_EQ(ctx.Main.Text.Lines.back().Colour, 12);
    EXPECT_EQ(ctx.Main.Text.ForeColor, 0);

    StopMessage(ctx);  // AbortRun = 0
    EXPECT_EQ(ctx.Main.Text.Lines.back().Text, "User stop");
    EXPECT_EQ(ctx.Main.Text.Lines.back().Colour, 4);
    EXPECT_EQ(events.size(), 1u);

    flags.AbortRun = 1;
    StopMessage(ctx);
    EXPECT_EQ(ctx.Main.Text.Lines.back().Text, "Error stop");
    EXPECT_EQ(ctx.Main.Text.Lines.back().Colour, 12);
    EXPECT_EQ(events.size(), 2u);

    ScanStop(ctx, "Cross-linked");
    EXPECT_EQ(flags.AbortRun, 1);
    EXPECT_TRUE(flags.RunError);
    EXPECT_TRUE(flags.StructureErrorFlag);
    EXPECT_EQ(flags.ErrText, "Cross-linked");
}

// One box per check, for the first pending flag in order of gravity; each is
// cleared once shown except the internal error, which stays until a run clears it.
TEST_F(ReportFixture, ReportCheck4ErrorsShowsOnlyTheFirstPendingFlag) {
    EXPECT_FALSE(Check4Errors(ctx));
    EXPECT_EQ(ui.boxes + ui.beeps, 0);

    flags.DriveBusyFlag = flags.StructureErrorFlag = flags.DiskErrorFlag = flags.NoMemoryFlag =
        true;
    ctx.Main.Volume = "c: (/media/card.img)";
    using Box = std::tuple<std::string, BoxIcon, int>;  // text, icon, beeps
    for (const auto& [text, icon, beeps] :
         {Box{NoMemErrText(), BoxIcon::Information, 1}, Box{DiskErrorText(), BoxIcon::Stop, 2},
          Box{StructureErrorText(), BoxIcon::Information, 1},
          Box{DriveBusyText(ctx.Main.Volume), BoxIcon::Information, 1}}) {
        const int before = ui.beeps;
        EXPECT_TRUE(Check4Errors(ctx));
        EXPECT_EQ(ui.lastBoxText, text);
        EXPECT_EQ(ui.lastBoxIcon, icon);
        EXPECT_EQ(ui.lastBoxTitle, "Kestra");
        EXPECT_EQ(ui.beeps - before, beeps);
    }
    EXPECT_EQ(ui.lastBoxText.substr(0, 44), "The drive c: (/media/card.img) is busy. Anot");
    EXPECT_FALSE(Check4Errors(ctx));

    flags.InternalErrorFlag = flags.NoMemoryFlag = true;
    for (int check = 0; check < 2; ++check) {
        EXPECT_TRUE(Check4Errors(ctx));
        EXPECT_EQ(ui.lastBoxText, InternalErrorText());
    }
    EXPECT_TRUE(flags.NoMemoryFlag);

    ctx.Main.ViewerErrorText = "Subscript out of range";
    HexError(ctx);
    EXPECT_EQ(ui.lastBoxText.substr(ui.lastBoxText.size() - 37),
              "Support group: Subscript out of range");
}

TEST_F(ReportFixture, ReportBusyBracketAndCrapOut) {
    flags.StopRequested = true;
    SetBusy(ctx);
    EXPECT_TRUE(ctx.Main.Busy);
    EXPECT_FALSE(flags.StopRequested);
    EXPECT_FALSE(ctx.Main.Controls.Tools_ || ctx.Main.Controls.DrvUser);
    SetUnBusy(ctx);
    EXPECT_FALSE(ctx.Main.Busy);
    EXPECT_TRUE(ctx.Main.Controls.Hex_ && ctx.Main.Controls.Drive_ && ctx.Main.Controls.Help_ &&
                ctx.Main.Controls.Options_ && ctx.Main.Controls.Tools_);

    ShowLine(ctx, "old line");
    CrapOut(ctx, "Cannot read drive");
    ASSERT_EQ(ctx.Main.Text.Lines.size(), 1u);
    EXPECT_EQ(ctx.Main.Text.Lines[0].Text, "Cannot read drive");
    EXPECT_EQ(ctx.Main.Text.Lines[0].Y, 3);
    EXPECT_EQ(ctx.Main.Text.Lines[0].Colour, 12);
    EXPECT_FALSE(ctx.Main.Busy);               // closing is not refused
    EXPECT_FALSE(ctx.Main.Controls.Options_);  // but every command stays off
}

TEST_F(ReportFixture, ReportRunWindowStatusLinesAndDeferredTags) {
    SetStatusX(ctx, 15);
    ShowStatus(ctx, display::kStatusLine2, "WIN.COM", 14);
    EXPECT_EQ(ctx.RunWindow.Line2.Text, "WIN.COM");
    const display::Canvas& s = ctx.RunWindow.Surface;
    EXPECT_EQ(s.Pixel(162, 30), display::PaletteColor(9));  // blue under yellow text
    EXPECT_EQ(s.Pixel(s.Width() - 1, 22), display::PaletteColor(7));

    flags.DropLocksFlag = true;
    RunWindowPaint(ctx);
    EXPECT_TRUE(flags.PaintDeferred);

    display::ClusterMap map(ui, ctx.Gate());
    display::HistogramChart e, f;
    map.DimensionMap(100);
    map.PaintCluster(7, display::kBoxFile);
    FlushDeferredPaint(ctx, map, e, f, {});  // still locked: nothing
    EXPECT_TRUE(flags.PaintDeferred);
    flags.DropLocksFlag = false;
    FlushDeferredPaint(ctx, map, e, f, {});
    EXPECT_FALSE(flags.PaintDeferred);
    EXPECT_EQ(map.picMap.Pixel(map.BoxX(7), map.BoxY(7)), display::PaletteColor(13));
}

}  // namespace
}  // namespace kestra::report
