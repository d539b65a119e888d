// SPDX-License-Identifier: MIT
#include "app/pictures.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace ck::app {
namespace {

const QColor kPurple(128, 0, 128);
const QColor kNavy(24, 48, 112);
const QColor kSteel(90, 110, 140);

QPixmap canvas(int size) {
    QPixmap p(size, size);
    p.fill(Qt::transparent);
    return p;
}

// Two sine waves a little out of step: the two supplies being compared.
void drawWaves(QPainter& g, const QRectF& r, qreal width) {
    for (int k = 0; k < 2; ++k) {
        QPainterPath path;
        const qreal shift = k * 0.6;
        for (int i = 0; i <= 40; ++i) {
            const qreal x = r.left() + r.width() * i / 40.0;
            const qreal y =
                r.center().y() - r.height() * 0.35 * std::sin(i / 40.0 * 2 * M_PI + shift);
            if (i == 0)
                path.moveTo(x, y);
            else
                path.lineTo(x, y);
        }
        g.setPen(QPen(k == 0 ? kNavy : kPurple, width, Qt::SolidLine, Qt::RoundCap));
        g.drawPath(path);
    }
}

QPixmap drawIcon(int size) {
    QPixmap p = canvas(size);
    QPainter g(&p);
    PaintAppIcon(g, size);
    return p;
}

void drawRead(QPainter& g) {
    // The instrument, and an arrow bringing its records down.
    g.setPen(QPen(kNavy, 1.5));
    g.setBrush(QColor(220, 228, 242));
    g.drawRoundedRect(QRectF(5, 2, 22, 13), 2, 2);
    drawWaves(g, QRectF(8, 4, 16, 9), 1.4);
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(30, 140, 60));
    QPolygonF arrow;
    arrow << QPointF(13, 16) << QPointF(19, 16) << QPointF(19, 22) << QPointF(24, 22)
          << QPointF(16, 30) << QPointF(8, 22) << QPointF(13, 22);
    g.drawPolygon(arrow);
}

void drawSave(QPainter& g) {
    g.setPen(QPen(kNavy, 1.5));
    g.setBrush(QColor(60, 90, 160));
    g.drawRoundedRect(QRectF(4, 4, 24, 24), 2, 2);
    g.setBrush(QColor(240, 240, 240));
    g.drawRect(QRectF(9, 4, 14, 9));
    g.setBrush(QColor(200, 200, 200));
    g.drawRect(QRectF(8, 18, 16, 10));
    g.setBrush(kNavy);
    g.drawRect(QRectF(18, 6, 3, 5));
}

void drawClear(QPainter& g) {
    // A sheet of rows, and an eraser across it.
    g.setPen(QPen(kSteel, 1.2));
    g.setBrush(Qt::white);
    g.drawRect(QRectF(4, 3, 20, 25));
    for (int y = 8; y < 26; y += 4) g.drawLine(QPointF(7, y), QPointF(21, y));
    g.save();
    g.translate(20, 20);
    g.rotate(-35);
    g.setPen(QPen(kNavy, 1.2));
    g.setBrush(QColor(230, 90, 110));
    g.drawRoundedRect(QRectF(-9, -4, 12, 8), 1.5, 1.5);
    g.setBrush(QColor(245, 245, 245));
    g.drawRoundedRect(QRectF(3, -4, 6, 8), 1.5, 1.5);
    g.restore();
}

void drawPrint(QPainter& g) {
    g.setPen(QPen(kNavy, 1.3));
    g.setBrush(Qt::white);
    g.drawRect(QRectF(9, 3, 14, 9));
    g.setBrush(QColor(150, 160, 180));
    g.drawRoundedRect(QRectF(3, 11, 26, 11), 2, 2);
    g.setBrush(Qt::white);
    g.drawRect(QRectF(8, 18, 16, 11));
    g.setPen(QPen(kSteel, 1));
    for (int y = 21; y < 28; y += 3) g.drawLine(QPointF(10, y), QPointF(22, y));
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(30, 160, 60));
    g.drawEllipse(QPointF(25, 14.5), 1.5, 1.5);
}

void drawHelp(QPainter& g) {
    g.setPen(QPen(kNavy, 1.3));
    g.setBrush(QColor(60, 110, 200));
    g.drawEllipse(QRectF(1.5, 1.5, 21, 21));
    QFont f;
    f.setPixelSize(16);
    f.setBold(true);
    g.setFont(f);
    g.setPen(Qt::white);
    g.drawText(QRectF(1.5, 1.5, 21, 21), Qt::AlignCenter, QStringLiteral("?"));
}

void drawClose(QPainter& g) {
    // A door standing open, and the way out.
    g.setPen(QPen(kNavy, 1.4));
    g.setBrush(QColor(235, 235, 235));
    g.drawRect(QRectF(6, 3, 16, 26));
    g.setBrush(QColor(170, 110, 60));
    QPolygonF door;
    door << QPointF(6, 3) << QPointF(15, 6) << QPointF(15, 31) << QPointF(6, 29);
    g.drawPolygon(door);
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(200, 40, 40));
    QPolygonF arrow;
    arrow << QPointF(18, 14) << QPointF(24, 14) << QPointF(24, 10) << QPointF(31, 16)
          << QPointF(24, 22) << QPointF(24, 18) << QPointF(18, 18);
    g.drawPolygon(arrow);
}

}  // namespace

void PaintAppIcon(QPainter& g, qreal size) {
    g.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    g.setPen(QPen(kNavy, 1.5 * s));
    g.setBrush(QColor(235, 240, 250));
    g.drawRoundedRect(QRectF(1.5 * s, 1.5 * s, 29 * s, 29 * s), 5 * s, 5 * s);
    drawWaves(g, QRectF(4 * s, 6 * s, 24 * s, 20 * s), 2.2 * s);
}

QIcon AppIcon() {
    QIcon icon;
    icon.addPixmap(drawIcon(16));
    icon.addPixmap(drawIcon(32));
    return icon;
}

QImage AppIconImage(int pixels) {
    return drawIcon(pixels).toImage().convertToFormat(QImage::Format_ARGB32);
}

QPixmap ButtonPicture(Picture which) {
    QPixmap p = canvas(which == Picture::Help ? 24 : 32);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    switch (which) {
        case Picture::Read:
            drawRead(g);
            break;
        case Picture::Save:
            drawSave(g);
            break;
        case Picture::Clear:
            drawClear(g);
            break;
        case Picture::Print:
            drawPrint(g);
            break;
        case Picture::Help:
            drawHelp(g);
            break;
        case Picture::Close:
            drawClose(g);
            break;
    }
    return p;
}

}  // namespace ck::app
