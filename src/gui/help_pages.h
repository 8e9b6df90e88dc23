#pragma once

// The installed help pages.

#include <QString>
#include <QUrl>

namespace kestra::gui {

// The page of a help context: "defrag.html"; the contents for an unknown one.
QString HelpPageName(int context);

// The help folder installed beside the program (`bin/../share/kestra/help`),
// or empty when it is not there (a build tree, a moved binary).
QString InstalledHelpFolder(const QString& programFolder);

// The installed page as a file URL when the folder has it, else the copy
// compiled into the program.
QUrl HelpUrl(int context, const QString& installedFolder);

}  // namespace kestra::gui
