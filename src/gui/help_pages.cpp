#include "gui/help_pages.h"

#include <QDir>
#include <QFileInfo>

#include "app/main_window.h"

namespace kestra::gui {

QString HelpPageName(int context) {
    switch (context) {
        case app::kHelpFastView:
            return "fast_view.html";
        case app::kHelpDefrag:
            return "defrag.html";
        case app::kHelpHexView:
            return "hex_view.html";
        case app::kHelpCheckedView:
            return "checked_view.html";
        case app::kHelpTools:
            return "tools.html";
        default:
            return "index.html";
    }
}

QString InstalledHelpFolder(const QString& programFolder) {
    if (programFolder.isEmpty()) return {};
    const QString folder = QDir::cleanPath(programFolder + "/../share/kestra/help");
    return QFileInfo::exists(folder + "/index.html") ? folder : QString();
}

QUrl HelpUrl(int context, const QString& installedFolder) {
    const QString page = HelpPageName(context);
    if (!installedFolder.isEmpty() && QFileInfo::exists(installedFolder + "/" + page))
        return QUrl::fromLocalFile(installedFolder + "/" + page);
    return QUrl("qrc:/help/" + page);
}

}  // namespace kestra::gui
