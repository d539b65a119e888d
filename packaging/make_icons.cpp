// SPDX-License-Identifier: MIT
// Writes the program's icon for the desktop's icon theme from the very drawing the window
// uses: PNGs of the sizes asked for and a scalable SVG.
//   make_icons OUT_DIR NAME SIZE...   writes OUT_DIR/NxN/NAME.png for each size and
//                                     OUT_DIR/scalable/NAME.svg

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <cstdio>
#include <cstdlib>

#include "app/pictures.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_icons OUT_DIR NAME SIZE...\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);

    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0) {
            std::fprintf(stderr, "make_icons: not a size: %s\n", argv[i]);
            return 2;
        }
        const QString dir = out + QStringLiteral("/%1x%1").arg(size);
        const QImage image = ck::app::AppIconImage(size);
        if (!QDir().mkpath(dir) || !image.save(dir + QLatin1Char('/') + name + ".png", "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }

    const QString dir = out + QStringLiteral("/scalable");
    QSvgGenerator svg;
    svg.setFileName(dir + QLatin1Char('/') + name + ".svg");
    svg.setSize(QSize(32, 32));
    svg.setViewBox(QRectF(0, 0, 32, 32));
    svg.setTitle(QStringLiteral("Check Korvelt"));
    svg.setDescription(
        QStringLiteral("Two supplies compared: two sine waves a little out of step"));
    if (!QDir().mkpath(dir)) return 1;
    QPainter painter;
    if (!painter.begin(&svg)) {
        std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(dir));
        return 1;
    }
    ck::app::PaintAppIcon(painter, 32);
    return painter.end() ? 0 : 1;
}
