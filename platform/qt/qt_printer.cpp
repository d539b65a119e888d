// SPDX-License-Identifier: MIT
#include "platform/qt/qt_printer.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPointF>

#include <algorithm>
#include <vector>

namespace ck::platform {
namespace {

constexpr double kTwipsPerInch = 1440.0;

// One visible character and the column it starts at.
struct Glyph {
    int column;
    QString text;
};

struct Line {
    std::vector<Glyph> glyphs;
    int width = 0;  // columns up to the end of the last visible character
};

// The text's lines (CR LF breaks, a lone LF accepted too); a final CR LF opens no further line.
// Columns follow the text files' rule: one per ASCII character, two per any other.
std::vector<Line> layOut(const std::string& utf8) {
    std::vector<Line> lines;
    Line line;
    int column = 1;
    bool open = false;
    const QList<uint> codes =
        QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toUcs4();
    for (const uint code : codes) {
        if (code == '\r') continue;
        if (code == '\n') {
            lines.push_back(std::move(line));
            line = Line();
            column = 1;
            open = false;
            continue;
        }
        open = true;
        const int width = code < 0x80 ? 1 : 2;
        if (code > ' ' && code != 0x7F) {
            const auto c = static_cast<char32_t>(code);
            line.glyphs.push_back({column, QString::fromUcs4(&c, 1)});
            line.width = column + width - 1;
        }
        column += width;
    }
    if (open) lines.push_back(std::move(line));
    return lines;
}

std::string target(const QPrinter& printer) {
    if (printer.outputFormat() == QPrinter::PdfFormat) {
        const QString file = printer.outputFileName();
        return file.isEmpty() ? std::string("未指定输出文件") : file.toStdString();
    }
    const QString name = printer.printerName();
    return name.isEmpty() ? std::string("未选择打印机") : name.toStdString();
}

}  // namespace

double ReportPointSize(int columns, double printableWidth, double cellAtMax) {
    if (columns <= 0 || cellAtMax <= 0.0) return kMaxReportPoints;
    const double cell = std::min(cellAtMax, printableWidth / columns);
    return kMaxReportPoints * cell / cellAtMax;
}

QtPrinterService::QtPrinterService(const QFont& font) : font_(font) {}

std::string QtPrinterService::printText(const std::string& utf8, Orientation orientation,
                                        int startTwips) {
    // Every line takes its place, blank ones too: a cleared history prints as many empty rows
    // as the instrument reported, on as many sheets.
    const std::vector<Line> lines = layOut(utf8);
    int widest = 0;
    for (const Line& l : lines) widest = std::max(widest, l.width);

    // A printer that refuses the orientation still prints: the size rule below keeps every
    // line on the page either way.
    printer_.setPageOrientation(orientation == Orientation::Landscape ? QPageLayout::Landscape
                                                                      : QPageLayout::Portrait);
    QPainter painter;
    if (!painter.begin(&printer_)) return "打印机无法开始打印: " + target(printer_);

    // Device pixels of the printable area; the painter's origin is its top left corner.
    const double pageWidth = printer_.width();
    const double pageHeight = printer_.height();
    QFont font = font_;
    font.setPointSizeF(kMaxReportPoints);
    const double cellAtMax = QFontMetricsF(font, &printer_).horizontalAdvance(QLatin1Char('0'));
    const double points = ReportPointSize(widest, pageWidth, cellAtMax);
    font.setPointSizeF(points);
    const QFontMetricsF metrics(font, &printer_);
    // The grid, not the glyphs' rounded advances, decides where each character goes.
    const double cell = cellAtMax * points / kMaxReportPoints;
    const double lineHeight = metrics.lineSpacing();
    painter.setFont(font);

    // The first line is never pushed off its page by the offset.
    double y = std::clamp(startTwips / kTwipsPerInch * printer_.resolution(), 0.0,
                          std::max(0.0, pageHeight - lineHeight));
    bool pageUsed = false;
    for (const Line& line : lines) {
        if (pageUsed && y + lineHeight > pageHeight) {
            if (!printer_.newPage()) {
                painter.end();
                return "打印机无法换页: " + target(printer_);
            }
            y = 0.0;
        }
        const double baseline = y + metrics.ascent();
        for (const Glyph& g : line.glyphs) {
            painter.drawText(QPointF((g.column - 1) * cell, baseline), g.text);
        }
        y += lineHeight;
        pageUsed = true;
    }
    if (!painter.end()) return "打印机未能完成打印: " + target(printer_);
    return {};
}

}  // namespace ck::platform
