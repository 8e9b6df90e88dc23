#pragma once

// The main window's model: menus, drive list, text area and boxes.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/launch.h"
#include "display/canvas.h"
#include "platform/settings_store.h"
#include "run/run_context.h"
#include "tools/file_tools.h"

namespace kestra::app {

inline constexpr const char* kMainCaption = " Kestra";
// The text area's only line while there is no drive to work on.
inline constexpr const char* kNoDriveHint =
    "No drives yet: use Drive, Add Image... or start with --drive C=PATH";

// Help contexts of the commands; 0 is the contents.
inline constexpr int kHelpContents = 0;
inline constexpr int kHelpFastView = 40;
inline constexpr int kHelpDefrag = 120;
inline constexpr int kHelpHexView = 150;
inline constexpr int kHelpCheckedView = 280;
inline constexpr int kHelpTools = 390;

// One item of the menu tree: a control name and its caption; "-" is a separator.
struct MenuItem {
    const char* Name;
    const char* Caption;
};
struct Menu {
    const char* Name;
    const char* Caption;
    std::vector<MenuItem> Items;
};
// The main window's menus, left to right, as the window shows them.
const std::vector<Menu>& MenuTree();

enum class Option { Pack, ReView, DefragHuge, PackHuge };
struct Options {
    bool Pack = true;
    bool ReView = true;
    bool DefragHuge = false;
    bool PackHuge = false;
    bool& operator[](Option o);
};
const char* OptionKey(Option o);
// Only the exact texts count: "No" for Pack and ReView, "Yes" for the others.
Options LoadOptions(platform::SettingsStore& store);
// Inverts one option and stores it; the default deletes the key.
void ToggleOption(Options& options, Option o, platform::SettingsStore& store);

// The drive letters an unattended command line names, in order. Interactive
// (false) when the trimmed line is shorter than 2 characters.
bool CommandLineDrives(const std::string& commandLine, std::string& letters);

// Drives from the settings store's "Drives" section ("c=/path", "d=/path@1"),
// then from the command line's mappings, then removable FAT devices on free
// letters. Invalid entries are skipped. The code page of short names comes
// from "CodePage" in "Options" (850 when unset).
void FillCatalogue(platform::VolumeCatalogue& catalogue, platform::SettingsStore& store,
                   const std::vector<std::pair<char, std::string>>& mapped,
                   const std::vector<std::string>& devices);

// About box texts: the title (product, description, platform) and the notice.
std::string AboutTitle(const std::string& osVersion);
std::string AboutText();

// Passes every service on and keeps the text of the last box shown.
class BoxRecorder : public platform::UiHost {
  public:
    explicit BoxRecorder(platform::UiHost& inner) : inner_(inner) {}
    void DoEvents() override { inner_.DoEvents(); }
    void Beep() override { inner_.Beep(); }
    void MessageBox(const std::string& text, const std::string& title,
                    platform::BoxIcon icon) override {
        LastBox = text;
        inner_.MessageBox(text, title, icon);
    }
    void BringToFront() override { inner_.BringToFront(); }
    void SetBusyPointer(bool busy) override { inner_.SetBusyPointer(busy); }
    void RepaintNow() override { inner_.RepaintNow(); }

    std::string LastBox;

  private:
    platform::UiHost& inner_;
};

// The main window NTKestF without its widgets: what it shows and what its
// commands do. The front end draws this state and forwards events to it.
class MainWindow {
  public:
    MainWindow(platform::VolumeCatalogue& catalogue, platform::UiHost& ui, platform::Clock& clock,
               platform::SettingsStore& settings, std::string programFolder);

    // Options, platform text, map geometry; true when unattended.
    bool StartUp(const std::string& commandLine, int twipsPerPixel);
    // The unattended drive loop; returns the exit status of the worst drive.
    int RunUnattended();

    // The drive list from the catalogue; the selection is kept by letter.
    void RefreshDrives();
    void SelectDrive(int index);  // a change of the selected drive
    void DrvUser_GotFocus();
    // Maps an image to the next free letter, stores it and selects it; the
    // letter, or 0 when no letter is free.
    char AddImage(const std::string& path);
    // Takes the selected drive off the list and out of the stored drives;
    // false when there was none.
    bool RemoveDrive();
    bool HasDrive() const { return !DrvUser.empty(); }
    // The text area's lines as plain text, one per line, for the clipboard.
    std::string TextAreaText() const;

    void DisplayReset();  // Drive_ opened, and first thing of every tool
    void Show_PiChart();
    void Launch(RunCommand command);
    // "&Hex View": the display reset, then the sector viewer on the selected drive.
    void Hex_();
    void Toggle(Option o);
    void Set_Checksum();
    // The Tools menu's file tools, after the display reset.
    enum class Tool { Checksum, Validate, TimingD };
    void RunTool(Tool tool);

    void KeyDown(int keyCode);
    // False when the key is swallowed (Ctrl+E).
    bool KeyPress(int charCode);
    // A close request; true when the window may close.
    bool QueryClose();

    void LogFlush(bool first);
    // The text area with the pie while no map is shown.
    void Paint(display::Canvas& surface);

  private:
    BoxRecorder boxes_;

  public:
    run::RunContext ctx;
    platform::VolumeCatalogue& catalogue;
    platform::SettingsStore& settings;
    std::string ProgramFolder;
    Options options;
    std::string OsVersion;
    std::string CommandLine;
    std::string LogFileName;
    bool Unattended = false;
    int HelpContextId = kHelpContents;
    // Shows the run window modally (it runs FormLoad once visible); without
    // one the run happens in place.
    std::function<void(run::RunContext&)> RunWindow;
    // Shows the sector viewer modally; it returns when the viewer closed.
    std::function<void(viewer::HexView&)> HexWindow;

    std::vector<char> DriveLetters;  // parallel to DrvUser
    std::vector<std::string> DrvUser;
    int DrvUserIndex = -1;
    bool imgKestVisible = true;
    bool PieShown = true;
    bool lstValErrsVisible = false;
    std::vector<std::string> lstValErrs;
    bool ChecksumChecked = false;
    bool ValidateEnabled = false;
    tools::ChecksumTables Ck;

  private:
    // One drive of the unattended loop; its exit status.
    int RunDrive(int index);
    void ShowNoDriveHint();
};

}  // namespace kestra::app
