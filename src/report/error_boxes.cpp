#include "report/error_boxes.h"

#include <initializer_list>

#include "platform/system_info.h"

namespace kestra::report {
namespace {

using platform::BoxIcon;

std::string JoinLines(std::initializer_list<const char*> lines) {
    std::string text;
    bool first = true;
    for (const char* line : lines) {
        if (!first) text += "\r\n";
        text += line;
        first = false;
    }
    return text;
}

void Beeps(ReportContext& ctx, int count) {
    for (int i = 0; i < count; ++i)
        ctx.Ui.Beep();
}

// The grave boxes beep twice; only the disk error shows the stop icon.
void ShowBox(ReportContext& ctx, ErrorBox box) {
    const bool grave = box == ErrorBox::Internal || box == ErrorBox::Disk;
    Beeps(ctx, grave ? 2 : 1);
    ctx.Main.LastBox = box;
    ctx.Ui.MessageBox(BoxText(box, ctx.Main.Volume), kAppTitle,
                      box == ErrorBox::Disk ? BoxIcon::Stop : BoxIcon::Information);
}

}  // namespace

std::string InternalErrorText() {
    const std::string run =
        "Shutdown all applications and run " + platform::RepairToolPath() + "--be";
    return JoinLines({"An internal error has occurred. Please copy down",
                      "the error description on the left of the screen and",
                      "contact our Technical Support group.", "", run.c_str(),
                      "sure to convert any lost cluster chains to files"});
}

std::string NoMemErrText() {
    return JoinLines({"There is insufficient memory to run this application.",
                      "Close one or more other applications and try again.",
                      "If you have just closed an application, wait a few",
                      "moments and try again."});
}

std::string DiskErrorText() {
    const std::string run =
        "Shutdown all applications and run " + platform::RepairToolPath() + "--be";
    return JoinLines({"A serious disk error has occurred on this drive.", run.c_str(),
                      "sure to convert any lost cluster chains to files."});
}

std::string StructureErrorText() {
    const std::string run =
        "Please shut down all applications and run " + platform::RepairToolPath() + ".";
    return JoinLines({"Structural errors have been detected on this drive.", run.c_str(),
                      "If fsck.fat does not report errors on this drive,",
                      "you may continue working normally."});
}

std::string DriveBusyText(const std::string& volume) {
    const std::string drive = volume.empty() ? "The drive" : "The drive " + volume;
    const std::string first = drive + " is busy. Another program has locked it or";
    return JoinLines({first.c_str(), "is accessing it intensively. Shutdown your other",
                      "applications or try again later."});
}

std::string HexErrorText(const std::string& ViewerErrorText) {
    return JoinLines({"An internal error has occurred. Please copy down",
                      "this error description and contact our Technical", "Support group: "}) +
           ViewerErrorText;
}

ErrorBox PendingBox(const RunFlags& flags) {
    if (flags.InternalErrorFlag) return ErrorBox::Internal;
    if (flags.NoMemoryFlag) return ErrorBox::NoMemory;
    if (flags.DiskErrorFlag) return ErrorBox::Disk;
    if (flags.StructureErrorFlag) return ErrorBox::Structure;
    if (flags.DriveBusyFlag) return ErrorBox::Busy;
    return ErrorBox::None;
}

bool& PendingFlag(RunFlags& flags, ErrorBox box) {
    switch (box) {
        case ErrorBox::Internal:
            return flags.InternalErrorFlag;
        case ErrorBox::NoMemory:
            return flags.NoMemoryFlag;
        case ErrorBox::Disk:
            return flags.DiskErrorFlag;
        case ErrorBox::Structure:
            return flags.StructureErrorFlag;
        default:
            return flags.DriveBusyFlag;
    }
}

std::string BoxText(ErrorBox box, const std::string& volume) {
    switch (box) {
        case ErrorBox::Internal:
            return InternalErrorText();
        case ErrorBox::NoMemory:
            return NoMemErrText();
        case ErrorBox::Disk:
            return DiskErrorText();
        case ErrorBox::Structure:
            return StructureErrorText();
        case ErrorBox::Busy:
            return DriveBusyText(volume);
        case ErrorBox::None:
        case ErrorBox::Viewer:
            break;
    }
    return {};
}

void HexError(ReportContext& ctx) {
    Beeps(ctx, 1);
    ctx.Main.LastBox = ErrorBox::Viewer;
    ctx.Ui.MessageBox(HexErrorText(ctx.Main.ViewerErrorText), kAppTitle, BoxIcon::Information);
}

void NoMemErr(ReportContext& ctx) {
    ShowBox(ctx, ErrorBox::NoMemory);
}

bool Check4Errors(ReportContext& ctx) {
    const ErrorBox box = PendingBox(ctx.Flags);
    if (box == ErrorBox::None) return false;
    ShowBox(ctx, box);
    // The internal error stays set: every later check shows it again until a
    // run clears it.
    if (box != ErrorBox::Internal) PendingFlag(ctx.Flags, box) = false;
    return true;
}

}  // namespace kestra::report
