// SPDX-License-Identifier: MIT
// The Windows icon file: what the .exe and the installer carry must be the picture the
// program draws, in a file that Windows and Qt's own reader both take.

#include <gtest/gtest.h>

#include "qt_environment.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>

#include <memory>

#include "app/icon_file.h"
#include "app/pictures.h"

#ifndef CK_APP_ICON_FILE
#error "CK_APP_ICON_FILE must name the committed icon file"
#endif

namespace ck::app {
namespace {

[[maybe_unused]] auto* const kQtEnvironment =
    ck::testing::AddQtEnvironment<QGuiApplication>("icon_test");

uint32_t le(const QByteArray& b, qsizetype at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b.at(at + i));
    return v;
}

// The images in an icon file, as Qt's reader sees them, by their width.
std::map<int, QImage> readIcons(const QByteArray& ico) {
    QBuffer buffer;
    buffer.setData(ico);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    std::map<int, QImage> out;
    for (int i = 0; i < reader.imageCount(); ++i) {
        reader.jumpToImage(i);
        const QImage img = reader.read().convertToFormat(QImage::Format_ARGB32);
        if (!img.isNull()) out[img.width()] = img;
    }
    return out;
}

int largestDifference(const QImage& a, const QImage& b) {
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q),
                          qAlpha(p) - qAlpha(q)}) {
                worst = std::max(worst, std::abs(d));
            }
        }
    }
    return worst;
}

TEST(IconFile, CommittedIconIsThePictureTheProgramDraws) {
    QFile file(QStringLiteral(CK_APP_ICON_FILE));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::map<int, QImage> icons = readIcons(file.readAll());
    ASSERT_EQ(icons.size(), std::size(kIconFileSizes));
    for (const int side : kIconFileSizes) {
        const auto it = icons.find(side);
        ASSERT_NE(it, icons.end()) << side;
        ASSERT_EQ(it->second.size(), QSize(side, side));
        // Antialiasing may differ a little between Qt versions; a changed picture does not.
        EXPECT_LE(largestDifference(it->second, AppIconImage(side)), 8)
            << side << " px: write app/checkkorvelt.ico again with write_app_icon";
    }
}

TEST(IconFile, BitmapEntriesCarryPictureAndMask) {
    // Three pixels: opaque red, half-transparent green, transparent.
    QImage img(2, 2, QImage::Format_ARGB32);
    img.setPixel(0, 0, qRgba(255, 0, 0, 255));
    img.setPixel(1, 0, qRgba(0, 255, 0, 128));
    img.setPixel(0, 1, qRgba(0, 0, 0, 0));
    img.setPixel(1, 1, qRgba(0, 0, 255, 255));
    const QByteArray ico = IcoFile({img});
    ASSERT_EQ(ico.size(), 6 + 16 + 40 + 2 * 2 * 4 + 2 * 4);
    EXPECT_EQ(le(ico, 0, 2), 0u);
    EXPECT_EQ(le(ico, 2, 2), 1u);  // an icon
    EXPECT_EQ(le(ico, 4, 2), 1u);  // one image
    EXPECT_EQ(le(ico, 6, 1), 2u);
    EXPECT_EQ(le(ico, 7, 1), 2u);
    EXPECT_EQ(le(ico, 12, 2), 32u);
    EXPECT_EQ(le(ico, 14, 4), 40u + 16u + 8u);
    EXPECT_EQ(le(ico, 18, 4), 22u);
    const qsizetype dib = 22;
    EXPECT_EQ(le(ico, dib + 4, 4), 2u);
    EXPECT_EQ(le(ico, dib + 8, 4), 4u);  // picture and mask, one above the other
    // Rows bottom up, BGRA.
    const qsizetype px = dib + 40;
    const auto pixel = [&](int x, int y) { return le(ico, px + ((1 - y) * 2 + x) * 4, 4); };
    EXPECT_EQ(pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(pixel(1, 0), 0x8000FF00u);
    EXPECT_EQ(pixel(1, 1), 0xFF0000FFu);
    // Mask rows bottom up, 32-bit aligned: set where the picture is transparent.
    const qsizetype mask = px + 16;
    EXPECT_EQ(static_cast<uint8_t>(ico.at(mask)), 0x80);      // row y = 1: (0,1) transparent
    EXPECT_EQ(static_cast<uint8_t>(ico.at(mask + 4)), 0x00);  // row y = 0: none
    EXPECT_EQ(readIcons(ico).at(2).pixel(1, 0), qRgba(0, 255, 0, 128));
}

TEST(IconFile, StoresOnlySquarePicturesUpTo256) {
    const struct {
        QSize size;
        bool stored;
    } cases[] = {{{16, 16}, true},
                 {{256, 256}, true},
                 {{16, 32}, false},
                 {{257, 257}, false},
                 {{0, 0}, false}};
    for (const auto& c : cases) {
        QImage img(c.size, QImage::Format_ARGB32);
        img.fill(Qt::white);
        EXPECT_EQ(!IcoFile({img}).isEmpty(), c.stored) << c.size.width() << "x" << c.size.height();
    }
    EXPECT_TRUE(IcoFile({}).isEmpty());
}

}  // namespace
}  // namespace ck::app
