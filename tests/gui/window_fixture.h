// One process's worth of the desktop program for the window's own tests.
#pragma once

#include <QApplication>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "gui/kestra_window.h"
#include "gui/qt_host.h"
#include "platform/system_info.h"
#include "support/mtools_volume.h"
#include "support/test_env.h"

namespace kestra::testing {

inline void SaveScreenshot(QWidget* w, const std::string& name) {
    std::filesystem::create_directories(KESTRA_SCREENSHOT_DIR);
    w->grab().save(QString::fromStdString(std::string(KESTRA_SCREENSHOT_DIR) + "/" + name));
}

struct Desk {
    TempDir home;
    gui::QtSettingsStore settings{QString::fromStdString(home.File("kestra.ini"))};
    platform::VolumeCatalogue catalogue;
    gui::QtUiHost host;
    platform::SystemClock clock;
    app::MainWindow model{catalogue, host, clock, settings, home.path().string()};
    std::unique_ptr<gui::KestraWindow> window;

    explicit Desk(const std::string& image = {}, int twips = 15)
        : Desk(
              [&](Desk& d) {
                  if (!image.empty()) d.catalogue.Map('c', image);
              },
              twips) {}
    // `prepare` maps drives and sets options before the program starts.
    Desk(const std::function<void(Desk&)>& prepare, int twips = 15) {
        host.boxesToStderr = true;
        prepare(*this);
        model.StartUp("", twips);
        window = std::make_unique<gui::KestraWindow>(model, host, twips);
        window->show();
        if (model.HasDrive()) model.SelectDrive(0);
        window->Sync(true);
        QCoreApplication::processEvents();
    }
    // A fragmented floppy made by mkfs.fat and mtools.
    static std::string Floppy(const TempDir& dir, const std::string& name = "vol.img") {
        const std::string image = dir.File(name);
        MakeFragmentedVolume(image, "-F 12 -n KESTRADEMO", 1440);
        return image;
    }
};

}  // namespace kestra::testing
