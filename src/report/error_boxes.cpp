#include "report/error_boxes.h"

#include <initializer_list>

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

}  // namespace

std::string InternalErrorText() {
    return JoinLines({"An internal error has occurred. Please copy down",
                      "the error description on the left of the screen and",
                      "contact our Technical Support group.", "",
                      "Shutdown all applications and run ScanDisk--be",
                      "sure to convert any lost cluster chains to files"});
}

std::string NoMemErrText() {
    return JoinLines({"There is insufficient memory to run this application.",
                      "Close one or more other applications and try again.",
                      "If you have just closed an application, wait a few",
                      "moments and try again."});
}

std::string DiskErrorText() {
    return JoinLines({"A serious disk error has occurred on this drive.",
                      "Shutdown all applications and run ScanDisk--be",
                      "sure to convert any lost cluster chains to files."});
}

std::string StructureErrorText() {
    return JoinLines({"Structural errors have been detected on this drive.",
                      "Please shut down all applications and run ScanDisk.",
                      "If ScanDisk does not report errors on this drive,",
                      "you may continue working normally."});
}

std::string DriveBusyText() {
    return JoinLines({"The drive is busy. Another program has locked it or",
                      "is accessing it intensively. Shutdown your other",
                      "applications or try again later."});
}

std::string HexErrorText(const std::string& ViewerErrorText) {
    return JoinLines({"An internal error has occurred. Please copy down",
                      "this error description and contact our Technical", "Support group: "}) +
           ViewerErrorText;
}

void HexError(ReportContext& ctx) {
    Beeps(ctx, 1);
    ctx.Ui.MessageBox(HexErrorText(ctx.Main.ViewerErrorText), kAppTitle, BoxIcon::Information);
}

void NoMemErr(ReportContext& ctx) {
    Beeps(ctx, 1);
    ctx.Ui.MessageBox(NoMemErrText(), kAppTitle, BoxIcon::Information);
}

bool Check4Errors(ReportContext& ctx) {
    RunFlags& f = ctx.Flags;
    if (f.InternalErrorFlag) {
        // Stays set: every later check shows it again until a run clears it.
        Beeps(ctx, 2);
        ctx.Ui.MessageBox(InternalErrorText(), kAppTitle, BoxIcon::Information);
        return true;
    }
    if (f.NoMemoryFlag) {
        NoMemErr(ctx);
        f.NoMemoryFlag = false;
        return true;
    }
    if (f.DiskErrorFlag) {
        Beeps(ctx, 2);
        ctx.Ui.MessageBox(DiskErrorText(), kAppTitle, BoxIcon::Stop);
        f.DiskErrorFlag = false;
        return true;
    }
    if (f.StructureErrorFlag) {
        Beeps(ctx, 1);
        ctx.Ui.MessageBox(StructureErrorText(), kAppTitle, BoxIcon::Information);
        f.StructureErrorFlag = false;
        return true;
    }
    if (f.DriveBusyFlag) {
        Beeps(ctx, 1);
        ctx.Ui.MessageBox(DriveBusyText(), kAppTitle, BoxIcon::Information);
        f.DriveBusyFlag = false;
        return true;
    }
    return false;
}

}  // namespace kestra::report
