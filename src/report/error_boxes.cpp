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

// Looked up once: the boxes are compared and shown many times in a process.
const std::string& RepairTool() {
    static const std::string tool = platform::RepairToolPath();
    return tool;
}

void Beeps(ReportContext& ctx, int count) {
    for (int i = 0; i < count; ++i)
        ctx.Ui.Beep();
}

}  // namespace

std::string InternalErrorText() {
    const std::string run = "Shutdown all applications and run " + RepairTool() + "--be";
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
    const std::string run = "Shutdown all applications and run " + RepairTool() + "--be";
    return JoinLines({"A serious disk error has occurred on this drive.", run.c_str(),
                      "sure to convert any lost cluster chains to files."});
}

std::string StructureErrorText() {
    const std::string run = "Please shut down all applications and run " + RepairTool() + ".";
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

void HexError(ReportContext& ctx) {
    Beeps(ctx, 1);
    ctx.Ui.MessageBox(HexErrorText(ctx.Main.ViewerErrorText), kAppTitle, BoxIcon::Information);
}

void NoMemErr(ReportContext& ctx) {
    Beeps(ctx, 1);
    ctx.Main.LastBox = ErrorBox::NoMemory;
    ctx.Ui.MessageBox(NoMemErrText(), kAppTitle, BoxIcon::Information);
}

bool Check4Errors(ReportContext& ctx) {
    RunFlags& f = ctx.Flags;
    if (f.InternalErrorFlag) {
        // Stays set: every later check shows it again until a run clears it.
        Beeps(ctx, 2);
        ctx.Main.LastBox = ErrorBox::Internal;
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
        ctx.Main.LastBox = ErrorBox::Disk;
        ctx.Ui.MessageBox(DiskErrorText(), kAppTitle, BoxIcon::Stop);
        f.DiskErrorFlag = false;
        return true;
    }
    if (f.StructureErrorFlag) {
        Beeps(ctx, 1);
        ctx.Main.LastBox = ErrorBox::Structure;
        ctx.Ui.MessageBox(StructureErrorText(), kAppTitle, BoxIcon::Information);
        f.StructureErrorFlag = false;
        return true;
    }
    if (f.DriveBusyFlag) {
        Beeps(ctx, 1);
        ctx.Main.LastBox = ErrorBox::Busy;
        ctx.Ui.MessageBox(DriveBusyText(ctx.Main.Volume), kAppTitle, BoxIcon::Information);
        f.DriveBusyFlag = false;
        return true;
    }
    return false;
}

}  // namespace kestra::report
