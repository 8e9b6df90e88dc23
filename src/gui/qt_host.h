#pragma once

// The windowing services of a run, done by Qt.

#include <QSettings>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

#include "platform/settings_store.h"
#include "platform/ui_host.h"

namespace kestra::gui {

// The windowing services the core calls during a run, done by Qt.
class QtUiHost : public platform::UiHost {
  public:
    void DoEvents() override;
    void Beep() override;
    void MessageBox(const std::string& text, const std::string& title,
                    platform::BoxIcon icon) override;
    void BringToFront() override;
    void SetBusyPointer(bool busy) override;
    void RepaintNow() override;

    // Set by the windows: bring their widgets up to date (at once when asked).
    std::function<void(bool now)> refresh;
    std::function<void()> raise;
    // Boxes go to stderr instead of a modal box: unattended runs and tests.
    bool boxesToStderr = false;
    // Runs on every round of events (tests press keys here).
    std::function<void()> onEvents;
    long eventRounds = 0;

  private:
    bool busy_ = false;
    std::chrono::steady_clock::time_point lastRefresh_{};
};

// The settings store as an INI file through QSettings.
class QtSettingsStore : public platform::SettingsStore {
  public:
    // The user's "kestra" settings, or those of one file.
    QtSettingsStore();
    explicit QtSettingsStore(const QString& iniPath);

    std::optional<std::string> Read(const std::string& section, const std::string& key) override;
    void Save(const std::string& section, const std::string& key,
              const std::string& value) override;
    void Delete(const std::string& section, const std::string& key) override;
    std::vector<std::pair<std::string, std::string>> ReadSection(
        const std::string& section) override;

  private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace kestra::gui
