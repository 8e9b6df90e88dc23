#include "gui/qt_host.h"

#include <QApplication>
#include <QMessageBox>

#include <iostream>

namespace kestra::gui {
namespace {

QString Key(const std::string& section, const std::string& key) {
    return QString::fromStdString(section + "/" + key);
}

}  // namespace

void QtUiHost::DoEvents() {
    ++eventRounds;
    if (onEvents) onEvents();
    // A box changes many times a frame; the screen needs only a few frames a second.
    const auto now = std::chrono::steady_clock::now();
    if (refresh && now - lastRefresh_ > std::chrono::milliseconds(30)) {
        lastRefresh_ = now;
        refresh(false);
    }
    QCoreApplication::processEvents();
}

void QtUiHost::Beep() {
    QApplication::beep();
}

void QtUiHost::MessageBox(const std::string& text, const std::string& title,
                          platform::BoxIcon icon) {
    QString body = QString::fromStdString(text);
    body.remove('\r');
    if (boxesToStderr) {
        std::cerr << body.toStdString() << "\n";
        return;
    }
    if (refresh) refresh(true);
    QMessageBox box(
        icon == platform::BoxIcon::Stop ? QMessageBox::Critical : QMessageBox::Information,
        QString::fromStdString(title), body, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void QtUiHost::BringToFront() {
    if (raise) raise();
}

void QtUiHost::SetBusyPointer(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void QtUiHost::RepaintNow() {
    if (refresh) refresh(true);
}

QtSettingsStore::QtSettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "kestra",
                                            "kestra")) {}

QtSettingsStore::QtSettingsStore(const QString& iniPath)
    : settings_(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)) {}

std::optional<std::string> QtSettingsStore::Read(const std::string& section,
                                                 const std::string& key) {
    const QVariant v = settings_->value(Key(section, key));
    if (!v.isValid()) return std::nullopt;
    return v.toString().toStdString();
}

void QtSettingsStore::Save(const std::string& section, const std::string& key,
                           const std::string& value) {
    settings_->setValue(Key(section, key), QString::fromStdString(value));
    settings_->sync();
}

void QtSettingsStore::Delete(const std::string& section, const std::string& key) {
    settings_->remove(Key(section, key));
    settings_->sync();
}

std::vector<std::pair<std::string, std::string>> QtSettingsStore::ReadSection(
    const std::string& section) {
    std::vector<std::pair<std::string, std::string>> values;
    settings_->beginGroup(QString::fromStdString(section));
    for (const QString& key : settings_->childKeys())
        values.emplace_back(key.toStdString(), settings_->value(key).toString().toStdString());
    settings_->endGroup();
    return values;
}

}  // namespace kestra::gui
