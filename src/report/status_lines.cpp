#include "report/status_lines.h"

namespace kestra::report {

void LetEventsRun(ReportContext& ctx) {
    if (!ctx.Flags.DropLocksFlag) ctx.Ui.DoEvents();
}

void ShowLine(ReportContext& ctx, std::string_view Text) {
    TextArea& area = ctx.Main.Text;
    area.Lines.push_back({std::string(Text), area.ForeColor, area.CurrentY});
    area.CurrentX = 0;
    area.CurrentY += area.LineHeight;
    std::string& log = ctx.Main.LogText;
    if (log.empty()) {
        log = Text;
    } else {
        log += "\r\n";
        log += Text;
    }
    LetEventsRun(ctx);
}

void ShowError(ReportContext& ctx, std::string_view Text) {
    if (ctx.ReleaseVolume) ctx.ReleaseVolume();
    ctx.Ui.BringToFront();
    ctx.Main.Text.ForeColor = kTextLightRed;
    ShowLine(ctx, Text);
    ctx.Main.Text.ForeColor = kTextBlack;
}

void ShowNotice(ReportContext& ctx, std::string_view Text) {
    ctx.Main.Text.ForeColor = kTextDarkRed;
    ShowLine(ctx, Text);
    ctx.Main.Text.ForeColor = kTextBlack;
}

void ClearText(ReportContext& ctx) {
    TextArea& area = ctx.Main.Text;
    area.lblCountVisible = false;
    area.Lines.clear();
    area.CancelHint.clear();
    area.CurrentX = 0;
    area.CurrentY = 3;
}

void ShowCancelHint(ReportContext& ctx) {
    TextArea& area = ctx.Main.Text;
    area.CurrentX = area.lblCountLeft + area.lblCountWidth;
    area.lblCountVisible = true;
    area.CurrentY = 4;
    area.CancelHint = kCancelHint;
    area.CancelHintX = area.CurrentX;
    area.CancelHintY = area.CurrentY;
    // Printed like a line, so what follows goes below it.
    area.CurrentX = 0;
    area.CurrentY += area.LineHeight;
}

void StopMessage(ReportContext& ctx) {
    ctx.Ui.BringToFront();
    if (ctx.Flags.AbortRun != 0) {
        ShowError(ctx, "Error stop");
    } else {
        ShowNotice(ctx, "User stop");
    }
}

void CrapOut(ReportContext& ctx, std::string_view Msg) {
    SetBusy(ctx);
    ClearText(ctx);
    ctx.Main.Busy = false;
    ctx.Main.Visible = true;
    LetEventsRun(ctx);
    ctx.Main.Text.CurrentY = 3;
    ShowError(ctx, Msg);
    ctx.Ui.SetBusyPointer(false);
}

void ScanStop(ReportContext& ctx, std::string_view Text) {
    ScanStop(ctx.Flags, Text);
}

void ScanStop(RunFlags& flags, std::string_view Text) {
    flags.AbortRun = 1;
    flags.RunError = true;
    flags.StructureErrorFlag = true;
    flags.ErrText = std::string(Text);
}

namespace {

void EnableCommands(MainControls& controls, bool enabled) {
    controls.Drive_ = enabled;
    controls.DrvUser = enabled;
    controls.Help_ = enabled;
    controls.Hex_ = enabled;
    controls.Options_ = enabled;
    controls.Tools_ = enabled;
}

}  // namespace

void SetBusy(ReportContext& ctx) {
    EnableCommands(ctx.Main.Controls, false);
    ctx.Flags.StopRequested = false;
    ctx.Main.Busy = true;
}

void SetUnBusy(ReportContext& ctx) {
    EnableCommands(ctx.Main.Controls, true);
    ctx.Main.Busy = false;
    ctx.Ui.SetBusyPointer(false);
}

void ResetLog(ReportContext& ctx) {
    ctx.Main.LogText.clear();
}

}  // namespace kestra::report
