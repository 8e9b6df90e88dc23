// The desktop program's real widgets under Qt's offscreen platform, on volumes
// made by mkfs.fat and mtools, judged by fsck.fat -n and by mtools.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTextBrowser>
#include <QTimer>

#include <cstring>
#include <filesystem>
#include <regex>

#include "app/main_window.h"
#include "gui/hex_window.h"
#include "gui/kestra_window.h"
#include "gui/qt_host.h"
#include "gui/window_fixture.h"
#include "platform/system_info.h"
#include "support/image_checks.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"
#include "support/tree_checks.h"
#include "viewer/hex_picture.h"

namespace kestra::testing {
namespace {

// A fragmented floppy (mkfs.fat and mtools) and its files.
struct Volume {
    TempDir dir;
    std::string image = dir.File("vol.img");
    Tree before;
    Volume() {
        MakeFragmentedVolume(image, "-F 12 -n KESTRADEMO", 1440);
        EXPECT_TRUE(CopyOutTree(image, before));
    }
    ::testing::AssertionResult Intact() const { return CleanAndHolds(image, before); }
};

// One process's worth of the program, with the run helpers of these tests.
struct Gui : Desk {
    using Desk::Desk;
    void Trigger(const std::string& action) { window->Action(action)->trigger(); }
    // Runs `step` on every round of events of the next run until it says done.
    void During(std::function<bool()> step) {
        host.onEvents = [this, step, done = false]() mutable {
            if (!done && model.ctx.counters.DefragActive && model.ctx.counters.MovedFiles > 0)
                done = step();
        };
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const auto& l : model.ctx.report.Main.Text.Lines)
            lines.push_back(l.Text);
        return lines;
    }
    bool Printed(const std::string& line) const {
        const std::vector<std::string> lines = Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    // The run window's tags and status lines.
    std::vector<std::string> Status() const {
        const report::RunWindowState& w = model.ctx.report.RunWindow;
        return {w.Tags.TagText1, w.Tags.TagText2, w.Line1.Text, w.Line2.Text};
    }
};

std::vector<std::string> Captions(const QMenu* menu) {
    std::vector<std::string> captions;
    for (const QAction* a : menu->actions())
        captions.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return captions;
}

TEST(GuiTest, MainWindowMenusCaptionsAndLayout) {
    Gui g;
    EXPECT_EQ(g.window->windowTitle().toStdString(), " Kestra");
    const std::vector<std::pair<std::string, std::vector<std::string>>> want = {
        {"&Drive",
         {"&Checked View", "&Fast View", "-", "&Defrag", "-", "&Add Image...", "&Remove Drive",
          "E&xit"}},
        {"&Options",
         {"&Pack after Defrag", "&View After Defrag", "-", "&Defrag huge files",
          "Pac&k huge files"}},
        {"&Tools", {"&Checksum", "&Validate", "-", "&Scan Files", "-", "&Hex View"}},
        {"&Help", {"&Topics", "&About Kestra"}}};
    const QList<QAction*> bar = g.window->menuBar()->actions();
    ASSERT_EQ(bar.size(), static_cast<int>(want.size()));
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(bar[static_cast<int>(i)]->text().toStdString(), want[i].first);
        EXPECT_EQ(Captions(bar[static_cast<int>(i)]->menu()), want[i].second);
    }
    for (const auto& [name, on] : {std::pair{"Pack_", true},
                                   {"Review_", true},
                                   {"DefragHuge_", false},
                                   {"PackHuge_", false}})
        EXPECT_EQ(g.window->Action(name)->isChecked(), on) << name;
    EXPECT_FALSE(g.window->Action("Validate_")->isEnabled());
    EXPECT_FALSE(g.window->Action("Checksum_")->isEnabled());  // no drive yet
    EXPECT_FALSE(g.model.KeyPress(5));  // Ctrl+E is swallowed, other keys pass
    EXPECT_TRUE(g.model.KeyPress('a'));
    EXPECT_EQ(app::AboutTitle("6.1.0"), "Kestra Disk optimiser for FAT volumes  -  Linux 6.1.0");

    // Boxes of 60 twips, the map in the bottom right corner 2 pixels in.
    for (const auto& [twips, box] : {std::pair{15, 4}, {12, 5}}) {
        Gui s(std::string(), twips);
        EXPECT_EQ(s.model.ctx.map.BoxSize, box);
        const QWidget* map = s.window->Widget("picMap");
        const QWidget* surface = map->parentWidget();
        EXPECT_EQ(map->width(), (box + 1) * 70 + 5);
        EXPECT_EQ(map->height(), (box + 1) * 41 + 15);
        EXPECT_EQ(map->geometry().right(), surface->width() - 3);
        EXPECT_EQ(map->geometry().bottom(), surface->height() - 3);
        EXPECT_EQ(s.window->Widget("PicHistoE")->geometry().right(), map->x() - 4);
    }
}

TEST(GuiTest, OptionsAreStoredOnlyWhenNotDefaultAndRestored) {
    Gui g;
    const QString ini = QString::fromStdString(g.home.File("kestra.ini"));
    g.Trigger("Pack_");
    g.Trigger("DefragHuge_");
    auto options = [&] {
        gui::QtSettingsStore now(ini);
        const app::Options o = app::LoadOptions(now);
        return std::vector<bool>{o.Pack, o.ReView, o.DefragHuge, o.PackHuge};
    };
    gui::QtSettingsStore store(ini);
    EXPECT_EQ(store.Read("Options", "Pack"), "No");
    EXPECT_EQ(store.Read("Options", "DefragHuge"), "Yes");
    EXPECT_EQ(store.Read("Options", "ReView"), std::nullopt);
    EXPECT_EQ(options(), (std::vector<bool>{false, true, true, false}));
    g.Trigger("Pack_");  // back to the default: the key goes
    EXPECT_EQ(gui::QtSettingsStore(ini).Read("Options", "Pack"), std::nullopt);

    // Only the exact texts count.
    store.Save("Options", "ReView", "no");
    store.Save("Options", "PackHuge", "yes");
    EXPECT_EQ(options(), (std::vector<bool>{true, true, true, false}));
}

TEST(GuiTest, CommandLineDrives) {
    const std::vector<std::tuple<std::string, bool, std::string>> cases = {
        {"", false, ""},       {" c ", false, ""},   {"/c/d", true, "cd"}, {"cd", true, "d"},
        {"/C /D", true, "cd"}, {"-c:d", true, "cd"}, {"/c/d/", true, "cd"}};
    for (const auto& [line, unattended, letters] : cases) {
        std::string got;
        EXPECT_EQ(app::CommandLineDrives(line, got), unattended) << line;
        EXPECT_EQ(got, letters) << line;
    }
}

// Drives from the settings, the command line and removable disks; an added
// image is kept for the next start.
TEST(GuiTest, DriveListFromSettingsCommandLineAndRemovableDisks) {
    Volume v;
    TempDir sys;
    const std::filesystem::path block = sys.path() / "block";
    std::filesystem::create_directories(block / "sdz" / "sdz1");
    std::filesystem::create_directories(block / "sda");
    std::filesystem::create_directories(sys.path() / "dev");
    auto put = [](const std::filesystem::path& p, const std::string& text) {
        WriteFile(p.string(), std::vector<uint8_t>(text.begin(), text.end()));
    };
    put(block / "sdz" / "removable", "1\n");
    put(block / "sdz" / "sdz1" / "partition", "1\n");
    put(block / "sda" / "removable", "0\n");
    std::filesystem::copy_file(v.image, sys.path() / "dev" / "sdz1");
    std::filesystem::copy_file(v.image, sys.path() / "dev" / "sda");
    put(sys.path() / "dev" / "sdz", std::string(512, '\0'));  // no FAT on the whole disk
    const std::vector<std::string> devices =
        platform::RemovableFatDevices(block.string(), (sys.path() / "dev").string());
    ASSERT_EQ(devices, std::vector<std::string>{(sys.path() / "dev" / "sdz1").string()});

    Gui g;
    g.settings.Save("Drives", "e", v.image);
    g.settings.Save("Drives", "f", v.dir.File("missing.img@9"));  // not a partition: skipped
    g.settings.Save("Options", "CodePage", "437");
    app::FillCatalogue(g.catalogue, g.settings, {{'c', v.image}}, devices);
    EXPECT_EQ(g.catalogue.codePage.Number(), 437);
    g.settings.Save("Options", "CodePage", "932");  // several bytes a character: the default stays
    platform::VolumeCatalogue other;
    app::FillCatalogue(other, g.settings, {}, {});
    EXPECT_EQ(other.codePage.Number(), 850);
    g.model.RefreshDrives();
    EXPECT_EQ(g.model.DrvUser,
              (std::vector<std::string>{"c: [KESTRADEMO]", "d: [KESTRADEMO]", "e: [KESTRADEMO]"}));
    EXPECT_EQ(g.model.AddImage(v.image), 'F');
    EXPECT_EQ(g.model.DrvUserIndex, 3);
    EXPECT_EQ(
        gui::QtSettingsStore(QString::fromStdString(g.home.File("kestra.ini"))).Read("Drives", "f"),
        v.image);
}

// A checked view, its display reset, and the same view run twice.
TEST(GuiTest, CheckedViewListsFragmentedFilesAndResetsClean) {
    Volume v;
    Gui g(v.image);
    EXPECT_EQ(g.model.DrvUser.at(0), "c: [KESTRADEMO]");
    EXPECT_TRUE(g.window->Widget("imgKest")->isVisible());
    SaveScreenshot(g.window.get(), "main-drive-pie.png");

    g.Trigger("Scan_");
    EXPECT_EQ(g.model.HelpContextId, app::kHelpCheckedView);
    EXPECT_TRUE(g.model.ctx.RunDone);
    EXPECT_GT(g.model.ctx.map.UpperBound(), 0);
    EXPECT_TRUE(g.window->Widget("frmInuse")->isVisible());
    const auto* list = static_cast<QListWidget*>(g.window->Widget("lstInuse"));
    EXPECT_EQ(list->count(), static_cast<int>(g.model.ctx.lstInuse.size()));
    EXPECT_GT(list->count(), 0);
    SaveScreenshot(g.window.get(), "main-after-check.png");
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QCoreApplication::sendEvent(g.window.get(), &f1);
    const auto* help = g.window->findChild<QTextBrowser*>("browser");
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->source().toString().endsWith("checked_view.html"));
    EXPECT_TRUE(help->toPlainText().startsWith("Checked View"));
    const std::vector<std::string> first = g.Lines(), status = g.Status();

    // A second run in this process prints what a fresh process prints.
    g.model.ctx.mode.FixedFileCount = 7;
    g.Trigger("Scan_");
    Gui fresh(v.image);
    fresh.Trigger("Scan_");
    for (const Gui* run : {&g, &fresh}) {
        EXPECT_EQ(run->Lines(), first);
        EXPECT_EQ(run->Status(), status);
    }

    // Opening the Drive menu resets the display.
    emit g.window->MenuNamed("Drive_")->aboutToShow();
    EXPECT_EQ(g.model.ctx.map.UpperBound(), 0);
    EXPECT_TRUE(g.model.ctx.lstInuse.empty());
    EXPECT_EQ(list->count(), 0);
    EXPECT_FALSE(g.window->Widget("frmInuse")->isVisible());
    EXPECT_EQ(g.model.ctx.mode.FixedFileCount, 0u);
    EXPECT_TRUE(g.model.ctx.report.Main.LogText.empty());
    EXPECT_TRUE(g.window->Widget("imgKest")->isVisible());
    EXPECT_TRUE(v.Intact());
}

void Key(QWidget* to, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(to, &press);
}

// The hex pane as the core draws it, as a Qt image.
QImage CorePane(const viewer::HexView& view, bool marks = true) {
    display::Canvas offset, data, text;
    viewer::PrintPanes(view, offset, data, text);
    if (marks) viewer::XorMarks(view.Marks, data, text);
    return QImage(reinterpret_cast<const uchar*>(data.Pixels().data()), data.Width(), data.Height(),
                  data.Width() * 3, QImage::Format_RGB888)
        .convertToFormat(QImage::Format_RGB32);
}

TEST(GuiTest, HexViewWalksFoldersByMouseWithMarksAsTheCoreDrawsThem) {
    TempDir dir;
    const std::string img = dir.File("vol.img"), q = ShellQuote(img), note = dir.File("n.txt");
    WriteFile(note, std::vector<uint8_t>(700, 'k'));
    ASSERT_EQ(
        RunCommand("mkfs.fat -C -F 32 -s 2 -n HEXVOL " + q + " 80000 && mmd -i " + q +
                   " ::Projects '::Projects/Kestrel Notes' && for f in 'Flight log.csv' "
                   "'Read me first.txt' PLAIN.TXT; do mcopy -i " +
                   q + " " + ShellQuote(note) + " \"::$f\" && mcopy -i " + q + " " +
                   ShellQuote(note) + " \"::Projects/Kestrel Notes/$f\"; done && mattrib -i " + q +
                   " +h ::PLAIN.TXT")
            .exitStatus,
        0);
    Gui g(img);
    std::vector<std::string> labels;
    bool drawnAsCore = false, twiceRestores = false;
    QTimer::singleShot(0, [&] {
        auto* hex = static_cast<gui::NTKestHex*>(g.window->CurrentHexWindow());
        ASSERT_NE(hex, nullptr);
        while (hex->View().Displays == 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        viewer::HexView& view = hex->View();
        EXPECT_EQ(hex->windowTitle(), "Hex c:");
        EXPECT_EQ(hex->pos() - g.window->pos(), QPoint(39, 38));
        EXPECT_FALSE(view.Marks.empty());
        drawnAsCore = hex->Pane(1) == CorePane(view);
        QImage pane = hex->Pane(1);
        gui::XorMarks(pane, viewer::Pane::Data, view.Marks);
        gui::XorMarks(pane, viewer::Pane::Data, view.Marks);
        twiceRestores = pane == hex->Pane(1) && pane != CorePane(view, false);
        SaveScreenshot(hex, "hex-fat32-root.png");
        // Presses on the second line of an entry, then on the first.
        for (const char* name : {"PROJECTS   ", "KESTRE~1   "}) {
            int line = 0;
            while (line < 32 && std::memcmp(&view.SectorBuf[line * 16], name, 11) != 0)
                line += 2;
            const QPointF at(5, viewer::LineY(line + (labels.empty() ? 1 : 0)) + 3);
            QMouseEvent press(QEvent::MouseButtonPress, at, hex->PicText()->mapToGlobal(at),
                              Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(hex->PicText(), &press);
            labels.push_back(hex->findChild<QLabel*>("lblDir")->text().toStdString());
        }
        SaveScreenshot(hex, "hex-fat32-subfolder.png");
        EXPECT_EQ(hex->Pane(1), CorePane(view));
        // Letters never reach a box; a number past the end shows the last sector.
        Key(hex->TxtBlock(), Qt::Key_X, "x");
        EXPECT_EQ(hex->TxtBlock()->text().toStdString(), view.txtBlock);
        hex->TxtBlock()->setText("99999999");
        Key(hex->TxtBlock(), Qt::Key_Return);
        EXPECT_EQ(hex->TxtBlock()->text().toLongLong(), view.LastSector());
        Key(hex->TxtDir(), Qt::Key_F1);
        const auto* help = g.window->findChild<QTextBrowser*>("browser");
        EXPECT_TRUE(help && help->source().toString().endsWith("hex_view.html"));
        for (int i = 0; i < 3; ++i)
            Key(hex->TxtDir(), Qt::Key_Escape);
    });
    g.Trigger("Hex_");
    EXPECT_EQ(labels, (std::vector<std::string>{"projects", "kestre~1"}));
    EXPECT_TRUE(drawnAsCore);
    EXPECT_TRUE(twiceRestores);
    EXPECT_EQ(g.window->CurrentHexWindow(), nullptr);
    EXPECT_EQ(g.model.HelpContextId, app::kHelpHexView);
    EXPECT_FALSE(g.model.ctx.io.VolumeHandle);
    EXPECT_TRUE(FsckClean(img));
}

TEST(GuiTest, DefragShowsTheRunWindowAndLeavesTheVolumeWhole) {
    Volume v;
    Gui g(v.image);
    std::string caption;
    bool pictureShown = true;
    g.During([&] {
        gui::RunWindow* run = g.window->CurrentRunWindow();
        if (!run || !g.model.ctx.PicHistoE.Visible) return false;
        caption = run->windowTitle().toStdString();
        g.window->Sync(true);
        pictureShown = g.window->Widget("imgKest")->isVisible();
        SaveScreenshot(run, "run-window.png");
        SaveScreenshot(g.window.get(), "main-during-defrag.png");
        return true;
    });
    g.Trigger("Defrag_");
    EXPECT_EQ(caption, "Defrag c:");
    EXPECT_FALSE(pictureShown);
    EXPECT_EQ(g.model.ctx.mode.FixedFileCount, 0u);
    EXPECT_EQ(g.window->CurrentRunWindow(), nullptr);
    EXPECT_EQ(g.model.ctx.model.MemReserve.size(), 1u);
    EXPECT_TRUE(g.Printed("Fragmented files=0"));
    SaveScreenshot(g.window.get(), "main-after-defrag.png");
    EXPECT_TRUE(v.Intact());
}

// Esc in the run window, and two closes of the main window, stop a run between
// moves; the second close closes the window.
TEST(GuiTest, StopsDuringARunLeaveTheVolumeSound) {
    for (const bool esc : {true, false}) {
        Volume v;
        Gui g(v.image);
        bool stillOpenAfterFirstClose = false;
        g.During([&] {
            if (esc) {
                QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QCoreApplication::sendEvent(g.window->CurrentRunWindow(), &key);
                return true;
            }
            g.window->close();
            stillOpenAfterFirstClose = g.window->isVisible();
            g.window->close();
            return true;
        });
        g.Trigger("Defrag_");
        EXPECT_TRUE(g.Printed("User stop")) << esc;
        if (!esc) {
            EXPECT_EQ(g.Status()[0], "User stop:");
            EXPECT_EQ(g.Status()[1], "Please wait");
            EXPECT_TRUE(stillOpenAfterFirstClose);
            EXPECT_FALSE(g.window->isVisible());
        }
        EXPECT_TRUE(v.Intact()) << esc;
    }
}

// The program itself, unattended, against kestra-cli on a copy of the volume.
TEST(GuiTest, ToolsMenuChecksumValidateAndScanFiles) {
    Volume v;
    Gui g(v.image);
    g.Trigger("Checksum_");
    EXPECT_EQ(g.model.HelpContextId, app::kHelpTools);
    EXPECT_TRUE(g.window->Action("Checksum_")->isChecked());
    EXPECT_TRUE(g.window->Action("Validate_")->isEnabled());
    EXPECT_TRUE(g.model.ctx.map.ShowDistribution);
    EXPECT_FALSE(g.window->Widget("imgKest")->isVisible());
    EXPECT_TRUE(g.Printed("Files=13  Subdirs=4")) << g.Lines().at(1);

    g.Trigger("Validate_");
    EXPECT_TRUE(g.Printed("No Differences"));
    EXPECT_FALSE(g.window->Widget("lstValErrs")->isVisible());
    ASSERT_EQ(RunCommand("MTOOLS_SKIP_CHECK=1 mdel -i " + v.image + " ::/E1.TXT").exitStatus, 0);
    g.Trigger("Validate_");
    auto* list = static_cast<QListWidget*>(g.window->Widget("lstValErrs"));
    EXPECT_TRUE(list->isVisible());
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(1)->text().toStdString(), "c:\\E1.TXT  (erased)");

    g.Trigger("TimingD_");
    EXPECT_EQ(g.Lines().at(2), "Files=12 Subdirs=4");
    EXPECT_FALSE(list->isVisible());
    // A copy of the volume elsewhere is another volume: no record, no mark.
    const std::string copy = v.dir.File("copy.img");
    std::filesystem::copy_file(v.image, copy);
    g.catalogue.Map('d', copy);
    g.model.RefreshDrives();
    g.model.SelectDrive(1);
    g.window->Sync(true);
    EXPECT_FALSE(g.window->Action("Checksum_")->isChecked());
    g.Trigger("Validate_");
    EXPECT_EQ(g.Lines().at(0).rfind("File not found: ", 0), 0u) << g.Lines().at(0);
    g.model.SelectDrive(0);
    g.window->Sync(true);
    EXPECT_TRUE(g.window->Action("Checksum_")->isChecked());
}

TEST(GuiTest, UnattendedRunDefragmentsNamedDrivesAndLogsWhatTheCliPrints) {
    Volume v;
    const std::string copy = v.dir.File("copy.img");
    const std::string other = v.dir.File("other.img");
    std::filesystem::copy_file(v.image, copy);
    std::filesystem::copy_file(v.image, other);
    TempDir home;
    const std::string env = "QT_QPA_PLATFORM=offscreen KESTRA_HOME=" + home.path().string() +
                            " XDG_CONFIG_HOME=" + home.path().string() + " ";
    const CommandResult r =
        RunCommand(env + KESTRA_GUI_PATH + " --drive c=" + v.image + " --drive d=" + other + " /c");
    ASSERT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_TRUE(v.Intact());
    EXPECT_EQ(Sha(other), Sha(copy)) << "drive d was not named";
    const std::string log = home.File("kestra.LOG");
    const CommandResult cli = RunCommand(std::string(KESTRA_CLI_PATH) + " defrag --log " +
                                         home.File("cli.log") + " --drive c=" + copy + " c");
    ASSERT_EQ(cli.exitStatus, 0) << cli.output;
    // The terminal's log adds the run's I/O line after the status lines.
    const std::regex times(R"(Time=[\d.]+,  Mb/Sec=[\d.]+)"), io(R"(I/O: [^\r\n]*\r\n)");
    auto text = [&](const std::string& path) {
        const std::vector<uint8_t> b = ReadFile(path);
        return std::regex_replace(
            std::regex_replace(std::string(b.begin(), b.end()), times, "Time"), io, "");
    };
    EXPECT_NE(text(log).find("\r\nFragmented files=0\r\n"), std::string::npos);
    EXPECT_EQ(text(log), text(home.File("cli.log")));

    // "/d" names only d; the log is made anew.
    const std::string c = Sha(copy), d = Sha(other);
    const CommandResult second =
        RunCommand(env + KESTRA_GUI_PATH + " --drive c=" + copy + " --drive d=" + other + " /d");
    ASSERT_EQ(second.exitStatus, 0) << second.output;
    EXPECT_EQ(Sha(copy), c);
    EXPECT_NE(Sha(other), d);
    EXPECT_TRUE(FsckClean(other));
    EXPECT_EQ(text(log).find("Drive=c:"), std::string::npos);
    EXPECT_EQ(text(log).find("Drive=d:"), 0u);
}

}  // namespace
}  // namespace kestra::testing

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
