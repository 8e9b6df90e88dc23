#pragma once

// Status lines printed as a run goes.

#include <string_view>

#include "report/report_context.h"

namespace kestra::report {

// Lets pending window events run, unless the write locks are held.
void LetEventsRun(ReportContext& ctx);

void ShowLine(ReportContext& ctx, std::string_view Text);
// Releases the volume first, then prints in light red.
void ShowError(ReportContext& ctx, std::string_view Text);
// Dark red; the volume stays as it is.
void ShowNotice(ReportContext& ctx, std::string_view Text);
// Resets the text area; LogText is kept.
void ClearText(ReportContext& ctx);
void ShowCancelHint(ReportContext& ctx);
void StopMessage(ReportContext& ctx);
// Fatal stop of the current command: only the red line is left and every
// command stays disabled.
void CrapOut(ReportContext& ctx, std::string_view Msg);
void ScanStop(ReportContext& ctx, std::string_view Text);
// The same stop where only the run's flags are at hand.
void ScanStop(RunFlags& flags, std::string_view Text);

void SetBusy(ReportContext& ctx);
void SetUnBusy(ReportContext& ctx);

// Empties LogText (the display reset and the unattended log flush).
void ResetLog(ReportContext& ctx);

}  // namespace kestra::report
