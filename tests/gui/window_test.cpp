// The main window on today's screens: resizing, keyboard, copying, the drive
// list's edits, the first start, readable colours and the help pages.
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>
#include <QTextBrowser>

#include <fstream>

#include "display/contrast.h"
#include "display/status_tag.h"
#include "gui/help_pages.h"
#include "window_fixture.h"

namespace kestra::testing {
namespace {

const std::vector<std::string> kDriveCommands = {"Scan_",     "ViewMap_", "Defrag_", "RemoveDrive_",
                                                 "Checksum_", "TimingD_", "Hex_"};

std::vector<std::string> Lines(const app::MainWindow& model) {
    std::vector<std::string> lines;
    for (const auto& l : model.ctx.report.Main.Text.Lines)
        lines.push_back(l.Text);
    return lines;
}

TEST(WindowTest, FirstStartPointsToAddImageAndRemoveDriveForgetsIt) {
    Desk d;
    EXPECT_EQ(Lines(d.model), std::vector<std::string>{app::kNoDriveHint});
    for (const std::string& name : kDriveCommands)
        EXPECT_FALSE(d.window->Action(name)->isEnabled()) << name;
    EXPECT_TRUE(d.window->Action("AddImage_")->isEnabled());
    SaveScreenshot(d.window.get(), "main-first-start.png");
    // Opening the Drive menu clears the text area; the hint stays.
    emit d.window->MenuNamed("Drive_")->aboutToShow();
    EXPECT_EQ(Lines(d.model), std::vector<std::string>{app::kNoDriveHint});
    EXPECT_TRUE(d.model.ctx.report.Main.LogText.empty());

    TempDir dir;
    const std::string c = Desk::Floppy(dir, "c.img"), e = Desk::Floppy(dir, "e.img");
    EXPECT_EQ(d.model.AddImage(c), 'C');
    EXPECT_EQ(d.model.AddImage(e), 'D');
    d.window->Sync(true);
    EXPECT_TRUE(Lines(d.model).empty());
    for (const std::string& name : kDriveCommands)
        EXPECT_TRUE(d.window->Action(name)->isEnabled()) << name;

    // The selected drive (D, just added) goes from the list and the settings.
    d.window->Action("RemoveDrive_")->trigger();
    EXPECT_EQ(d.model.DriveLetters, std::vector<char>{'C'});
    EXPECT_EQ(d.model.DrvUserIndex, 0);
    EXPECT_EQ(d.settings.ReadSection("Drives").size(), 1u);
    EXPECT_FALSE(d.settings.Read("Drives", "d").has_value());
    d.window->Action("RemoveDrive_")->trigger();
    EXPECT_TRUE(d.model.DrvUser.empty());
    EXPECT_TRUE(d.settings.ReadSection("Drives").empty());
    EXPECT_EQ(Lines(d.model), std::vector<std::string>{app::kNoDriveHint});
    for (const std::string& name : kDriveCommands)
        EXPECT_FALSE(d.window->Action(name)->isEnabled()) << name;
    // Nothing left to remove, nothing to launch: no run, no crash.
    EXPECT_FALSE(d.model.RemoveDrive());
    d.model.Launch(app::RunCommand::Defrag);
    EXPECT_FALSE(d.model.ctx.RunDone);
    // A later start finds no drive either.
    platform::VolumeCatalogue again;
    app::FillCatalogue(again, d.settings, {}, {});
    EXPECT_TRUE(again.Letters().empty());
}

TEST(WindowTest, GrowsTheMapByWholeStepsListsTakeKeysAndTextCopies) {
    TempDir dir;
    Desk d(Desk::Floppy(dir));
    QWidget* map = d.window->Widget("picMap");
    QWidget* surface = map->parentWidget();
    const int mapW = d.model.ctx.map.picMap.Width(), mapH = d.model.ctx.map.picMap.Height();
    EXPECT_EQ(map->size(), QSize(mapW, mapH));
    EXPECT_LT(d.window->minimumSizeHint().height(), 539);  // fits a laptop at 150 %

    d.window->Action("Scan_")->trigger();
    auto* list = static_cast<QListWidget*>(d.window->Widget("lstInuse"));
    ASSERT_GE(list->count(), 1);
    // More names than the list can show at once.
    for (int i = 0; i < 40; ++i)
        d.model.ctx.lstInuse.push_back("\\DIR\\FILE" + std::to_string(i) + ".DAT");
    d.window->Sync(true);
    SaveScreenshot(d.window.get(), "main-default-size.png");

    d.window->resize(mapW * 2 + 320, mapH * 2 + 340);
    QCoreApplication::processEvents();
    // Twice the room: every box twice as big, the rest takes what is left.
    EXPECT_EQ(map->size(), QSize(mapW * 2, mapH * 2));
    EXPECT_EQ(map->geometry().right(), surface->width() - 3);
    EXPECT_EQ(map->geometry().bottom(), surface->height() - 3);
    EXPECT_EQ(d.window->Widget("frmInuse")->width(), mapW * 2);
    const QWidget* chart = d.window->Widget("PicHistoE");
    EXPECT_EQ(chart->geometry().right(), map->x() - 4);
    EXPECT_EQ(d.model.ctx.PicHistoE.Picture.Width(), chart->width());
    const QImage shot = map->grab().toImage();
    for (int y = 0; y + 1 < shot.height(); y += 2)
        for (int x = 0; x + 1 < shot.width(); x += 2)
            ASSERT_EQ(shot.pixel(x, y), shot.pixel(x + 1, y + 1)) << x << "," << y;

    // The fragmented-file list scrolls with the keys.
    EXPECT_EQ(list->focusPolicy(), Qt::StrongFocus);
    d.window->activateWindow();
    list->setFocus(Qt::TabFocusReason);
    list->setCurrentRow(0);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(list, &down);
    EXPECT_EQ(list->currentRow(), 1);
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
    QCoreApplication::sendEvent(list, &end);
    EXPECT_EQ(list->currentRow(), list->count() - 1);
    QCoreApplication::processEvents();
    EXPECT_GT(list->verticalScrollBar()->value(), 0);
    EXPECT_EQ(d.model.ctx.lstInuse.size(), static_cast<size_t>(list->count()));  // not reset
    SaveScreenshot(d.window.get(), "main-large-list-focus.png");

    // The status text goes to the clipboard from the surface's context menu.
    QAction* copy = d.window->Action("Copy_");
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(surface->actions().contains(copy));
    EXPECT_EQ(surface->contextMenuPolicy(), Qt::ActionsContextMenu);
    copy->trigger();
    const std::string copied = QGuiApplication::clipboard()->text().toStdString();
    EXPECT_EQ(copied, d.model.TextAreaText());
    EXPECT_NE(copied.find(Lines(d.model).at(0) + "\n"), std::string::npos);
}

TEST(WindowTest, TagsAndTheMovingSwatchAreReadable) {
    using display::ContrastRatio;
    using display::PaletteColor;
    EXPECT_NEAR(ContrastRatio(display::kBlack, display::kWhite), 21.0, 0.01);
    // The fault: white tags on the grey window.
    EXPECT_LT(ContrastRatio(PaletteColor(15), PaletteColor(7)), 2.0);
    for (int colour : {0, 15}) {
        display::Canvas form(200, 40, PaletteColor(7));
        display::StatusTags tags;
        display::ShowTag(form, tags, display::kStatusLine1, "Defrag:", colour);
        const display::Rgb back = PaletteColor(display::TagBackground(colour));
        EXPECT_EQ(form.Pixel(64, display::kStatusLine1), back);
        int text = 0;
        for (int y = display::kStatusLine1; y < display::kStatusLine1 + form.TextHeight(); ++y)
            for (int x = 4; x <= 64; ++x) {
                const display::Rgb p = form.Pixel(x, y);
                if (p == back) continue;
                ++text;
                EXPECT_EQ(p, PaletteColor(colour));
            }
        EXPECT_GT(text, 10) << colour;
        EXPECT_GE(ContrastRatio(PaletteColor(colour), back), 4.5) << colour;
    }

    // The legend of a defrag: Moving keeps its white boxes, in a black rim.
    Desk d;
    display::ClusterMap& map = d.model.ctx.map;
    map.DrawLegend(display::LegendMode{true, 0});
    const display::Canvas& pic = map.picMap;
    int rims = 0;
    for (int x = 1; x + 6 < pic.Width(); ++x) {
        bool white =
            pic.Pixel(x - 1, 5) == display::kBlack && pic.Pixel(x + 5, 5) == display::kBlack;
        for (int i = 0; i < 5 && white; ++i)
            white =
                pic.Pixel(x + i, 5) == display::kWhite && pic.Pixel(x + i, 3) == display::kWhite;
        if (!white) continue;
        ++rims;
        EXPECT_EQ(pic.Pixel(x + 2, 2), display::kBlack);
        EXPECT_GE(ContrastRatio(pic.Pixel(x + 2, 2), pic.BackColor), 4.5);
    }
    EXPECT_EQ(rims, 1);
}

TEST(WindowTest, HelpComesFromTheInstalledFolderElseFromTheProgram) {
    Desk d;  // loads the built-in pages
    for (int context : {app::kHelpContents, app::kHelpFastView, app::kHelpDefrag, app::kHelpHexView,
                        app::kHelpCheckedView, app::kHelpTools, 7}) {
        const QUrl url = gui::HelpUrl(context, {});
        EXPECT_EQ(url.scheme(), "qrc");
        EXPECT_TRUE(QFile::exists(":" + url.path())) << url.toString().toStdString();
    }
    EXPECT_EQ(gui::HelpPageName(app::kHelpDefrag), "defrag.html");
    EXPECT_EQ(gui::HelpPageName(999), "index.html");

    TempDir prefix;
    std::filesystem::create_directories(prefix.File("bin"));
    EXPECT_TRUE(gui::InstalledHelpFolder(QString::fromStdString(prefix.File("bin"))).isEmpty());
    const std::filesystem::path help = prefix.path() / "share/kestra/help";
    std::filesystem::create_directories(help);
    for (const char* page : {"index.html", "defrag.html"})
        std::ofstream(help / page) << "<html></html>";
    const QString folder = gui::InstalledHelpFolder(QString::fromStdString(prefix.File("bin")));
    EXPECT_EQ(folder.toStdString(), help.string());
    EXPECT_EQ(gui::HelpUrl(app::kHelpDefrag, folder),
              QUrl::fromLocalFile(QString::fromStdString((help / "defrag.html").string())));
    // A page the folder lacks comes from the program.
    EXPECT_EQ(gui::HelpUrl(app::kHelpTools, folder), QUrl("qrc:/help/tools.html"));

    // Help Topics from the menu opens the contents.
    d.window->Action("Content_")->trigger();
    const auto* browser = d.window->findChild<QTextBrowser*>("browser");
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(browser->source(), QUrl("qrc:/help/index.html"));
}

}  // namespace
}  // namespace kestra::testing
