#pragma once

// The report model: status lines, text area and boxes.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "display/canvas.h"
#include "display/paint_gate.h"
#include "display/status_tag.h"
#include "platform/ui_host.h"
#include "report/run_flags.h"

namespace kestra::report {

// The title of every message box.
inline constexpr const char* kAppTitle = "Kestra";
inline constexpr const char* kCancelHint = "Press Esc to cancel";

// Palette numbers of the text colours.
inline constexpr int kTextBlack = 0;
inline constexpr int kTextDarkRed = 4;
inline constexpr int kTextLightRed = 12;

// One line printed in the main window's text area.
struct TextLine {
    std::string Text;
    int Colour = kTextBlack;
    int Y = 0;
};

// The main window's text area as the front ends draw it: the lines since the
// last clear, the print position and the counter label with its hint.
struct TextArea {
    std::vector<TextLine> Lines;
    int CurrentX = 0;
    int CurrentY = 3;
    int ForeColor = kTextBlack;
    int LineHeight = 13;  // pixels from one line to the next
    bool lblCountVisible = false;
    std::string lblCount;  // the tools' running count
    int lblCountLeft = 8;
    int lblCountWidth = 120;
    // Printed beside lblCount, never part of LogText.
    std::string CancelHint;
    int CancelHintX = 0;
    int CancelHintY = 0;
};

// Enabled state of the commands that a long tool run locks out.
struct MainControls {
    bool Drive_ = true;
    bool DrvUser = true;
    bool Help_ = true;
    bool Hex_ = true;
    bool Options_ = true;
    bool Tools_ = true;
};

// The error boxes, as values: a box's text and the exit status are both derived
// from these, never one from the other. Viewer is the sector viewer's own box.
enum class ErrorBox { None, Internal, NoMemory, Disk, Structure, Busy, Viewer };

struct MainWindowState {
    TextArea Text;
    std::string LogText;  // lines joined by CR LF, none after the last
    MainControls Controls;
    bool Busy = false;
    bool Visible = true;
    std::string ViewerErrorText;
    // The drive a launch works on, as the busy box names it: "c: (disk.img)".
    std::string Volume;
    ErrorBox LastBox = ErrorBox::None;  // the last box shown
};

// What one of the run window's two status lines shows right of its tag.
struct StatusLine {
    std::string Text;
    int Colour = 0;
};

struct RunWindowState {
    display::Canvas Surface{480, 40, display::PaletteColor(7)};
    display::StatusTags Tags;
    StatusLine Line1;  // y = 10
    StatusLine Line2;  // y = 22
    int StatusX = 160;
    bool RunDone = false;
};

// Everything that reports to the user during and after a run. The release of
// the volume (drop the lock, close the handle, let events run) sits above this
// layer and is handed in as a callback; empty when no volume can be open.
struct ReportContext {
    ReportContext(RunFlags& flags, platform::UiHost& ui, std::function<void()> releaseVolume = {})
        : Flags(flags), Ui(ui), ReleaseVolume(std::move(releaseVolume)) {}

    RunFlags& Flags;
    platform::UiHost& Ui;
    std::function<void()> ReleaseVolume;
    MainWindowState Main;
    RunWindowState RunWindow;

    // The deferred-paint rule for the pictures of this run.
    display::PaintGate Gate() { return {Flags.DropLocksFlag, Flags.PaintDeferred}; }
};

}  // namespace kestra::report
