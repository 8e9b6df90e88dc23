#include "app/main_window.h"

#include <algorithm>
#include <cctype>

#include "display/pie_chart.h"
#include "platform/system_info.h"
#include "platform/terminal.h"
#include "platform/text_files.h"
#include "report/error_boxes.h"
#include "report/run_status.h"
#include "report/status_lines.h"
#include "run/run_driver.h"
#include "tools/volume_records.h"

#ifndef KESTRA_VERSION
#define KESTRA_VERSION "0"
#endif
#ifndef KESTRA_COPYRIGHT
#define KESTRA_COPYRIGHT ""
#endif

namespace kestra::app {
namespace {

constexpr const char* kOptions = "Options";
constexpr const char* kDrives = "Drives";

bool DefaultOf(Option o) {
    return o == Option::Pack || o == Option::ReView;
}

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

}  // namespace

const std::vector<Menu>& MenuTree() {
    static const std::vector<Menu> tree = {
        {"Drive_",
         "&Drive",
         {{"Scan_", "&Checked View"},
          {"ViewMap_", "&Fast View"},
          {"Dummy0", "-"},
          {"Defrag_", "&Defrag"},
          {"Dummy1", "-"},
          {"AddImage_", "&Add Image..."},
          {"RemoveDrive_", "&Remove Drive"},
          {"Exit_", "E&xit"}}},
        {"Options_",
         "&Options",
         {{"Pack_", "&Pack after Defrag"},
          {"Review_", "&View After Defrag"},
          {"Dummy2", "-"},
          {"DefragHuge_", "&Defrag huge files"},
          {"PackHuge_", "Pac&k huge files"}}},
        {"Tools_",
         "&Tools",
         {{"Checksum_", "&Checksum"},
          {"Validate_", "&Validate"},
          {"Dummy3", "-"},
          {"TimingD_", "&Scan Files"},
          {"Dummy5", "-"},
          {"Hex_", "&Hex View"}}},
        {"Help_", "&Help", {{"Content_", "&Topics"}, {"About_", "&About Kestra"}}},
    };
    return tree;
}

bool& Options::operator[](Option o) {
    switch (o) {
        case Option::Pack:
            return Pack;
        case Option::ReView:
            return ReView;
        case Option::DefragHuge:
            return DefragHuge;
        default:
            return PackHuge;
    }
}

const char* OptionKey(Option o) {
    switch (o) {
        case Option::Pack:
            return "Pack";
        case Option::ReView:
            return "ReView";
        case Option::DefragHuge:
            return "DefragHuge";
        default:
            return "PackHuge";
    }
}

Options LoadOptions(platform::SettingsStore& store) {
    Options options;
    for (Option o : {Option::Pack, Option::ReView, Option::DefragHuge, Option::PackHuge}) {
        const bool on = DefaultOf(o);
        const std::optional<std::string> stored = store.Read(kOptions, OptionKey(o));
        if (stored && *stored == (on ? "No" : "Yes")) options[o] = !on;
    }
    return options;
}

void ToggleOption(Options& options, Option o, platform::SettingsStore& store) {
    options[o] = !options[o];
    if (options[o] == DefaultOf(o)) {
        store.Delete(kOptions, OptionKey(o));
    } else {
        store.Save(kOptions, OptionKey(o), DefaultOf(o) ? "No" : "Yes");
    }
}

bool CommandLineDrives(const std::string& commandLine, std::string& letters) {
    letters.clear();
    std::string line = Trim(commandLine);
    if (line.size() < 2) return false;
    line += "/";
    std::transform(line.begin(), line.end(), line.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // The first character always goes: "/c/d" names c and d, "cd" only d.
    while (line.size() >= 2) {
        line.erase(0, 1);
        while (!line.empty() && line[0] < 'a')
            line.erase(0, 1);
        if (line.empty()) break;
        letters += line[0];
    }
    return true;
}

void FillCatalogue(platform::VolumeCatalogue& catalogue, platform::SettingsStore& store,
                   const std::vector<std::pair<char, std::string>>& mapped,
                   const std::vector<std::string>& devices) {
    auto add = [&](char letter, const std::string& volume) {
        if (!std::isalpha(static_cast<unsigned char>(letter)) || volume.empty()) return;
        if (!platform::MalformedPartition(volume).empty()) return;
        catalogue.Map(letter, volume);
    };
    for (const auto& [key, volume] : store.ReadSection(kDrives)) {
        if (key.size() == 1) add(key[0], volume);
    }
    for (const auto& [letter, volume] : mapped)
        add(letter, volume);
    for (const std::string& device : devices) {
        const char letter = catalogue.FreeLetter();
        if (letter == 0) break;
        add(letter, device);
    }
    // A code page the system does not know leaves the default in place.
    if (const std::optional<std::string> page = store.Read(kOptions, "CodePage")) {
        std::string why;
        if (auto loaded = platform::ParseCodePage(*page, why)) catalogue.codePage = *loaded;
    }
}

std::string AboutTitle(const std::string& osVersion) {
    return "Kestra Disk optimiser for FAT volumes  -  Linux " + osVersion;
}

std::string AboutText() {
    return std::string("Version ") + KESTRA_VERSION + "\n" + KESTRA_COPYRIGHT +
           "\nDefragments and packs FAT12, FAT16 and FAT32 volumes without losing a byte.";
}

MainWindow::MainWindow(platform::VolumeCatalogue& volumes, platform::UiHost& ui,
                       platform::Clock& clock, platform::SettingsStore& store,
                       std::string programFolder)
    : boxes_(ui),
      ctx(volumes, boxes_, clock),
      catalogue(volumes),
      settings(store),
      ProgramFolder(std::move(programFolder)) {
    // The map takes the picture's place; a fast view keeps the pie of its queries.
    ctx.openRunWindow = [this](run::RunContext& c) {
        imgKestVisible = false;
        PieShown = !c.mode.CheckStructure;
        if (RunWindow) {
            RunWindow(c);
        } else {
            run::FormLoad(c);
        }
    };
}

bool MainWindow::StartUp(const std::string& commandLine, int twipsPerPixel) {
    options = LoadOptions(settings);
    ctx.mode.ReviewAfterDefrag = options.ReView;
    ctx.map.SetBoxSize(twipsPerPixel);
    report::SetStatusX(ctx.report, twipsPerPixel);
    ctx.map.ResetMap();
    RefreshDrives();
    Set_Checksum();
    // No other platform to refuse: the version is only shown.
    OsVersion = platform::OsRelease();
    CommandLine = Trim(commandLine);
    std::string letters;
    Unattended = CommandLineDrives(CommandLine, letters);
    ShowNoDriveHint();
    return Unattended;
}

int MainWindow::RunUnattended() {
    std::string letters;
    CommandLineDrives(CommandLine, letters);
    LogFileName = ProgramFolder + "/kestra.LOG";
    LogFlush(true);
    int status = 0;
    for (const char letter : letters) {
        bool found = false;
        for (size_t i = 0; i < DrvUser.size(); ++i) {
            if (DrvUser[i].empty() || DrvUser[i][0] != letter) continue;
            found = true;
            const int drive = RunDrive(static_cast<int>(i));
            if (status == 0) status = drive;
            if (ctx.flags.StopRequested || ctx.flags.CloseRequested) return status;
        }
        if (!found) {
            // A script must not take a drive it named for done.
            report::ShowError(ctx.report, std::string("Drive ") + letter +
                                              ": is not mapped (use --drive " + letter + "=PATH)");
            LogFlush(false);
            if (status == 0) status = kExitUsage;
        }
    }
    return status;
}

int MainWindow::RunDrive(int index) {
    SelectDrive(index);
    SetRunMode(ctx, RunCommand::Defrag, true);
    imgKestVisible = false;
    ctx.map.picMap.Clear();
    ctx.map.ResetMap();
    ctx.mode.FixedFileCount = 0;
    ctx.frmInuseVisible = false;
    ctx.lstInuse.clear();
    boxes_.LastBox.clear();
    // Busy, so that closing the window stops the run as in a launch.
    report::SetBusy(ctx.report);
    ViewMap(ctx, DrvUser[static_cast<size_t>(index)], true);
    report::SetUnBusy(ctx.report);
    // Nobody sees a box here: what it says goes to the log as well.
    size_t from = 0;
    while (from < boxes_.LastBox.size()) {
        const size_t to = std::min(boxes_.LastBox.find("\r\n", from), boxes_.LastBox.size());
        report::ShowError(ctx.report, boxes_.LastBox.substr(from, to - from));
        from = to + 2;
    }
    LogFlush(false);
    return ExitStatusFor(ctx);
}

void MainWindow::RefreshDrives() {
    const char keep = DrvUserIndex >= 0 && DrvUserIndex < static_cast<int>(DriveLetters.size())
                          ? DriveLetters[static_cast<size_t>(DrvUserIndex)]
                          : 0;
    DriveLetters = catalogue.Letters();
    DrvUser.clear();
    DrvUserIndex = DriveLetters.empty() ? -1 : 0;
    for (size_t i = 0; i < DriveLetters.size(); ++i) {
        DrvUser.push_back(DriveListEntry(catalogue, DriveLetters[i]));
        if (DriveLetters[i] == keep) DrvUserIndex = static_cast<int>(i);
    }
}

void MainWindow::SelectDrive(int index) {
    if (index < 0 || index >= static_cast<int>(DrvUser.size())) return;
    DrvUserIndex = index;
    DisplayReset();
    Show_PiChart();
    ctx.mode.CheckStructure = true;
    Set_Checksum();
}

void MainWindow::DrvUser_GotFocus() {
    DisplayReset();
    Show_PiChart();
}

char MainWindow::AddImage(const std::string& path) {
    const char letter = catalogue.FreeLetter();
    if (letter == 0 || path.empty()) return 0;
    catalogue.Map(letter, path);
    settings.Save(kDrives, std::string(1, static_cast<char>(std::tolower(letter))), path);
    RefreshDrives();
    const auto at = std::find(DriveLetters.begin(), DriveLetters.end(), letter);
    SelectDrive(static_cast<int>(at - DriveLetters.begin()));
    return letter;
}

bool MainWindow::RemoveDrive() {
    if (DrvUserIndex < 0 || DrvUserIndex >= static_cast<int>(DriveLetters.size())) return false;
    const char letter = DriveLetters[static_cast<size_t>(DrvUserIndex)];
    catalogue.Unmap(letter);
    settings.Delete(kDrives, std::string(1, static_cast<char>(std::tolower(letter))));
    RefreshDrives();
    DisplayReset();
    if (DrvUserIndex >= 0) SelectDrive(DrvUserIndex);
    return true;
}

std::string MainWindow::TextAreaText() const {
    std::string text;
    for (const report::TextLine& line : ctx.report.Main.Text.Lines)
        text += line.Text + "\n";
    return text;
}

void MainWindow::ShowNoDriveHint() {
    if (Unattended || HasDrive()) return;
    report::TextArea& area = ctx.report.Main.Text;
    // Not a status line: it never goes to the log.
    area.Lines.push_back({kNoDriveHint, area.ForeColor, area.CurrentY});
    area.CurrentY += area.LineHeight;
}

void MainWindow::DisplayReset() {
    ctx.map.ShowDistribution = false;
    report::ResetLog(ctx.report);
    report::ClearText(ctx.report);
    ctx.map.picMap.Clear();
    imgKestVisible = true;
    ctx.map.ResetMap();
    PieShown = true;
    lstValErrsVisible = false;
    lstValErrs.clear();
    ctx.mode.FixedFileCount = 0;
    ctx.frmInuseVisible = false;
    ctx.lstInuse.clear();
    ShowNoDriveHint();
}

void MainWindow::Show_PiChart() {
    if (DrvUserIndex < 0) return;
    const platform::QueryResult q =
        catalogue.Query(DriveLetters[static_cast<size_t>(DrvUserIndex)]);
    if (!q.ok) {
        ctx.geo.TotalClusters = 0;  // nothing to draw
        return;
    }
    ctx.geo.TotalClusters = q.info.totalClusters;
    ctx.geo.FreeClusters = q.info.freeClusters;
    PieShown = true;
}

void MainWindow::Launch(RunCommand command) {
    HelpContextId = command == RunCommand::FastView      ? kHelpFastView
                    : command == RunCommand::CheckedView ? kHelpCheckedView
                                                         : kHelpDefrag;
    if (DrvUserIndex < 0) return;
    SetRunMode(ctx, command, options.Pack);
    ctx.mode.ReviewAfterDefrag = options.ReView;
    DisplayReset();
    report::SetBusy(ctx.report);
    ViewMap(ctx, DrvUser[static_cast<size_t>(DrvUserIndex)], Unattended);
    report::SetUnBusy(ctx.report);
    if (!ctx.frmInuseVisible) PieShown = true;
}

void MainWindow::Hex_() {
    DisplayReset();
    HelpContextId = kHelpHexView;
    if (DrvUserIndex < 0) return;
    HexLaunch(ctx, DrvUser[static_cast<size_t>(DrvUserIndex)], HexWindow);
}

void MainWindow::Toggle(Option o) {
    ToggleOption(options, o, settings);
    ctx.mode.ReviewAfterDefrag = options.ReView;
}

void MainWindow::Set_Checksum() {
    ChecksumChecked = false;
    tools::RecordFiles records;
    std::string why;
    if (DrvUserIndex >= 0 && !ProgramFolder.empty() &&
        tools::FindRecordFiles(catalogue, ProgramFolder, DrvUser[static_cast<size_t>(DrvUserIndex)],
                               records, why)) {
        ChecksumChecked = platform::FileExists(records.Checksum);
    }
    // Another drive's missing file leaves Validate as it was.
    if (ChecksumChecked) ValidateEnabled = true;
}

void MainWindow::RunTool(Tool tool) {
    DisplayReset();
    HelpContextId = kHelpTools;
    if (DrvUserIndex < 0) return;
    tools::ToolContext t{catalogue,
                         ctx.report,
                         ctx.map,
                         ctx.clock,
                         ProgramFolder,
                         DrvUser[static_cast<size_t>(DrvUserIndex)],
                         Ck,
                         lstValErrs,
                         lstValErrsVisible,
                         imgKestVisible,
                         [this] { Set_Checksum(); }};
    if (tool == Tool::Checksum) {
        tools::Timing_Checksum(t);
    } else if (tool == Tool::Validate) {
        tools::Timing_Validate(t);
    } else {
        tools::TimingD(t);
    }
}

void MainWindow::KeyDown(int keyCode) {
    if (keyCode == 27) ctx.flags.StopRequested = true;
}

bool MainWindow::KeyPress(int charCode) {
    return charCode != 5;
}

bool MainWindow::QueryClose() {
    if (!ctx.report.Main.Busy) return true;
    ctx.flags.StopRequested = true;
    ctx.report.Main.Busy = false;
    // The run under way winds down as from its own window.
    if (!ctx.RunDone) run::Form_QueryUnload(ctx);
    return false;
}

void MainWindow::LogFlush(bool first) {
    std::string& log = ctx.report.Main.LogText;
    // Made anew at every start, even with nothing to write yet: an earlier
    // run's lines must never pass for this one's.
    if (first) platform::WriteTextFile(LogFileName, log.empty() ? "" : log + "\r\n");
    if (!first && !log.empty()) platform::AppendTextFile(LogFileName, log, false);
    log.clear();
}

void MainWindow::Paint(display::Canvas& surface) {
    if (ctx.flags.DropLocksFlag) {
        ctx.flags.PaintDeferred = true;
        return;
    }
    surface.Clear();
    const report::TextArea& text = ctx.report.Main.Text;
    for (const report::TextLine& line : text.Lines) {
        surface.CurrentX = 4;
        surface.CurrentY = line.Y;
        surface.ForeColor = display::PaletteColor(line.Colour);
        surface.Print(line.Text);
    }
    if (!text.CancelHint.empty()) {
        surface.CurrentX = text.CancelHintX;
        surface.CurrentY = text.CancelHintY;
        surface.ForeColor = display::kBlack;
        surface.Print(text.CancelHint);
    }
    surface.ForeColor = display::kBlack;
    if (PieShown) display::DrawPie(surface, ctx.geo.FreeClusters, ctx.geo.TotalClusters);
}

}  // namespace kestra::app
