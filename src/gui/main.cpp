// kestra: the desktop program. Its options (--drive c=disk.img, ...) and drive
// letters to defragment and pack unattended ("/c/d"); no letters open the
// interactive window. Anything else is refused before a volume is touched.
#include <QApplication>
#include <QScreen>

#include <iostream>

#include "app/command_line.h"
#include "app/main_window.h"
#include "gui/kestra_window.h"
#include "gui/qt_host.h"
#include "platform/clock.h"
#include "platform/system_info.h"
#include "platform/terminal.h"
#include "run/run_driver.h"

namespace {

const char* const kUsage =
    "Usage: kestra [--drive L=PATH]... [--codepage N] [--no-write-through] [/L/L...]\n"
    "       kestra --help | --version\n"
    "\n"
    "The desktop optimiser for FAT12, FAT16 and FAT32 volumes. PATH is an image\n"
    "file, PATH@N for primary partition N of a disk image, or an unmounted block\n"
    "device. --codepage N reads short names and labels in code page N (default\n"
    "850, or CodePage in the settings' [Options]). Drive letters after\n"
    "separators (/c/d) defragment and pack those\n"
    "drives unattended, log to kestra.LOG in the program folder and exit with\n"
    "kestra-cli's exit statuses; anything else on the line is a usage error (64).\n";

const char* const kNoDisplay =
    "kestra: there is no display for the window (DISPLAY and WAYLAND_DISPLAY are unset).\n"
    "Name the drives to defragment unattended, for example\n"
    "  kestra --drive c=disk.img /c\n"
    "or start kestra in a desktop session (or use kestra-cli).\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace kestra;
    const app::DesktopArgs args =
        app::ParseDesktopArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (args.action == app::DesktopArgs::Action::Help) {
        std::cout << kUsage;
        return app::kExitClean;
    }
    if (args.action == app::DesktopArgs::Action::Version) {
        std::cout << "kestra " KESTRA_VERSION "\n";
        return app::kExitClean;
    }
    if (args.action == app::DesktopArgs::Action::Usage) {
        std::cerr << "kestra: " << args.error << "\nTry 'kestra --help'.\n";
        return app::kExitUsage;
    }
    // A script or a cron job has no display: the window is then drawn off screen,
    // but only for unattended drives; nobody could answer a window there.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        if (args.drives.empty()) {
            std::cerr << kNoDisplay;
            return app::kExitUsage;
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int qtArgc = 1;  // the drive letters are not Qt's
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName("kestra");

    gui::QtSettingsStore settings;
    platform::VolumeCatalogue catalogue;
    catalogue.writeThrough = args.writeThrough;
    app::FillCatalogue(catalogue, settings, args.mapped, platform::RemovableFatDevices());
    if (args.codePage) catalogue.codePage = *args.codePage;
    gui::QtUiHost host;
    platform::SystemClock clock;
    app::MainWindow model(catalogue, host, clock, settings, platform::ProgramFolder());
    const double dpi = QApplication::primaryScreen()->logicalDotsPerInchX();
    const int twips = dpi > 0 ? static_cast<int>(1440 / dpi) : 15;
    const bool unattended = model.StartUp(args.drives, twips);
    host.boxesToStderr = unattended;
    gui::KestraWindow window(model, host, twips);
    window.show();
    if (unattended) {
        // A signal stops the drive being run at its next safe point, as closing
        // the window does, and no later drive starts.
        platform::WatchInterrupts();
        host.onEvents = [&model] {
            run::RunContext& ctx = model.ctx;
            if (platform::StopSignalled() && !ctx.RunDone && !ctx.flags.CloseRequested)
                run::Form_QueryUnload(ctx);
        };
        return model.RunUnattended();
    }
    return QApplication::exec();
}
