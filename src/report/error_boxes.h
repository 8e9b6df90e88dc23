#pragma once

// The texts of the error boxes.

#include <string>

#include "report/report_context.h"

namespace kestra::report {

// The texts of the boxes, lines joined by CR LF. The repair tool they name is
// fsck.fat by its full path; the busy box names the volume when it is known.
std::string InternalErrorText();
std::string NoMemErrText();
std::string DiskErrorText();
std::string StructureErrorText();
std::string DriveBusyText(const std::string& volume = {});
std::string HexErrorText(const std::string& ViewerErrorText);

// The box of the first pending error flag in order of gravity, or None.
ErrorBox PendingBox(const RunFlags& flags);
// The pending flag a box of a flag stands for.
bool& PendingFlag(RunFlags& flags, ErrorBox box);
// The text of a box of a pending flag (empty for the others); the busy box
// names `volume`.
std::string BoxText(ErrorBox box, const std::string& volume = {});

// The sector viewer's internal-error box (uses Main.ViewerErrorText).
void HexError(ReportContext& ctx);
// The insufficient-memory box.
void NoMemErr(ReportContext& ctx);

// Shows the box of the first pending error flag and clears that flag (the
// internal-error flag stays set). True when a box was shown.
bool Check4Errors(ReportContext& ctx);

}  // namespace kestra::report
