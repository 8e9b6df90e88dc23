// kestra-render-icons: a build step. Writes the program's kestrel as
// DIR/hicolor/NxN/apps/kestra.png for every size N given, for the icon theme.
#include <QDir>
#include <QString>

#include <cstdlib>
#include <iostream>
#include <string>

#include "gui/kestrel_picture.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "Usage: kestra-render-icons DIR SIZE...\n";
        return 64;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        char* end = nullptr;
        const long size = std::strtol(arg.c_str(), &end, 10);
        if (arg.empty() || *end != 0 || size < 8 || size > 1024) {
            std::cerr << "kestra-render-icons: bad size '" << arg << "'\n";
            return 64;
        }
        const QString dir = QString("%1/hicolor/%2x%2/apps").arg(root).arg(size);
        const QString file = dir + "/kestra.png";
        if (!QDir().mkpath(dir) || !kestra::gui::KestrelIcon(size).save(file, "PNG")) {
            std::cerr << "kestra-render-icons: cannot write " << file.toStdString() << "\n";
            return 1;
        }
    }
    return 0;
}
