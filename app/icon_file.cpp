// SPDX-License-Identifier: MIT
#include "app/icon_file.h"

#include <QBuffer>

#include "app/pictures.h"

namespace ck::app {
namespace {

constexpr int kDirectorySize = 6;
constexpr int kEntrySize = 16;
constexpr int kBitmapHeaderSize = 40;
constexpr int kPngFrom = 256;

void put16(QByteArray& out, int v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>((v >> 8) & 0xFF));
}
void put32(QByteArray& out, qint64 v) {
    for (int i = 0; i < 4; ++i) out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A bitmap as an icon stores it: the header with twice the height (picture and mask), the
// BGRA rows bottom up, then the 1-bit mask rows bottom up, each padded to 32 bits.
QByteArray bitmapEntry(const QImage& source) {
    const QImage img = source.convertToFormat(QImage::Format_ARGB32);
    const int w = img.width();
    const int h = img.height();
    const int maskStride = ((w + 31) / 32) * 4;
    QByteArray out;
    put32(out, kBitmapHeaderSize);
    put32(out, w);
    put32(out, 2 * h);
    put16(out, 1);   // planes
    put16(out, 32);  // bits per pixel
    put32(out, 0);   // no compression
    put32(out, static_cast<qint64>(w) * h * 4 + static_cast<qint64>(maskStride) * h);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    for (int y = h - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            out.append(static_cast<char>(qBlue(row[x])));
            out.append(static_cast<char>(qGreen(row[x])));
            out.append(static_cast<char>(qRed(row[x])));
            out.append(static_cast<char>(qAlpha(row[x])));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        QByteArray bits(maskStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (qAlpha(row[x]) == 0)
                bits[x / 8] = static_cast<char>(bits[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(bits);
    }
    return out;
}

QByteArray pngEntry(const QImage& img) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!img.save(&buffer, "PNG")) return {};
    return png;
}

}  // namespace

QByteArray IcoFile(const QList<QImage>& images) {
    if (images.isEmpty() || images.size() > 0xFFFF) return {};
    QList<QByteArray> data;
    for (const QImage& img : images) {
        if (img.isNull() || img.width() != img.height() || img.width() > 256) return {};
        data << (img.width() >= kPngFrom ? pngEntry(img) : bitmapEntry(img));
        if (data.back().isEmpty()) return {};
    }
    QByteArray out;
    put16(out, 0);
    put16(out, 1);  // icon
    put16(out, static_cast<int>(images.size()));
    qint64 offset = kDirectorySize + kEntrySize * images.size();
    for (qsizetype i = 0; i < images.size(); ++i) {
        const int side = images[i].width();
        out.append(static_cast<char>(side == 256 ? 0 : side));  // 0 stands for 256
        out.append(static_cast<char>(side == 256 ? 0 : side));
        out.append('\0');  // no palette
        out.append('\0');
        put16(out, 1);
        put16(out, 32);
        put32(out, data[i].size());
        put32(out, offset);
        offset += data[i].size();
    }
    for (const QByteArray& d : data) out.append(d);
    return out;
}

QByteArray AppIconFile() {
    QList<QImage> images;
    for (const int side : kIconFileSizes) images << AppIconImage(side);
    return IcoFile(images);
}

}  // namespace ck::app
