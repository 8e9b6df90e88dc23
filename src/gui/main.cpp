// kestra: the desktop program. Options such as --drive c=disk.img are taken
// off the command line first; what remains names drives to defragment and pack
// unattended ("/c/d"), or nothing for the interactive window.
#include <QApplication>
#include <QScreen>

#include <cctype>
#include <iostream>

#include "app/main_window.h"
#include "gui/kestra_window.h"
#include "gui/qt_host.h"
#include "platform/clock.h"
#include "platform/system_info.h"
#include "platform/terminal.h"
#include "run/run_driver.h"

namespace {

const char* const kUsage =
    "Usage: kestra [--drive L=PATH]... [--no-write-through] [/L/L...]\n"
    "\n"
    "The desktop optimiser for FAT12, FAT16 and FAT32 volumes. PATH is an image\n"
    "file, PATH@N for primary partition N of a disk image, or an unmounted block\n"
    "device. Drive letters after separators (/c/d) defragment and pack those\n"
    "drives unattended, log to kestra.LOG in the program folder and exit with\n"
    "kestra-cli's exit statuses.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace kestra;
    std::vector<std::pair<char, std::string>> mapped;
    std::string commandLine;
    bool writeThrough = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return app::kExitClean;
        }
        if (a == "--drive" || a.rfind("--drive=", 0) == 0) {
            const std::string m = a == "--drive" ? (i + 1 < argc ? argv[++i] : "") : a.substr(8);
            const size_t eq = m.find('=');
            if (eq == std::string::npos || eq == 0 || eq > 2 || eq + 1 == m.size() ||
                !std::isalpha(static_cast<unsigned char>(m[0]))) {
                std::cerr << "kestra: --drive expects L=PATH, for example --drive c=disk.img\n";
                return app::kExitUsage;
            }
            mapped.emplace_back(m[0], m.substr(eq + 1));
        } else if (a == "--no-write-through") {
            writeThrough = false;
        } else {
            commandLine += (commandLine.empty() ? "" : " ") + a;
        }
    }
    // A script or a cron job has no display: the window is then drawn off screen.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int qtArgc = 1;  // the drive letters are not Qt's
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName("kestra");

    gui::QtSettingsStore settings;
    platform::VolumeCatalogue catalogue;
    catalogue.writeThrough = writeThrough;
    app::FillCatalogue(catalogue, settings, mapped, platform::RemovableFatDevices());
    gui::QtUiHost host;
    platform::SystemClock clock;
    app::MainWindow model(catalogue, host, clock, settings, platform::ProgramFolder());
    const double dpi = QApplication::primaryScreen()->logicalDotsPerInchX();
    const int twips = dpi > 0 ? static_cast<int>(1440 / dpi) : 15;
    const bool unattended = model.StartUp(commandLine, twips);
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
