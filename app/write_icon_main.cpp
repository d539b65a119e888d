// SPDX-License-Identifier: MIT
// write_app_icon FILE.ico: writes the program's icon, as the Windows build embeds it in the
// .exe and the installer (app/checkkorvelt.ico is made with it).

#include <QFile>
#include <QGuiApplication>

#include <cstdio>

#include "app/icon_file.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_app_icon FILE.ico\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QByteArray ico = ck::app::AppIconFile();
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (ico.isEmpty() || !out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(ico) != ico.size()) {
        std::fprintf(stderr, "write_app_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
