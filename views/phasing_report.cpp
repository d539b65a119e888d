// SPDX-License-Identifier: MIT
#include "views/phasing_report.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>

#include <algorithm>
#include <functional>
#include <memory>

#include "measure/phasors.h"
#include "views/fonts.h"
#include "views/pdf_text.h"
#include "views/phasor_window.h"

namespace ck::views {
namespace {

using measure::Input;
using measure::Pair;

struct FieldSpec {
    const char* key;
    const char* label;
};
constexpr FieldSpec kFields[kReportFieldCount] = {
    {"workUnit", "工作单位"},
    {"place", "地点（变电站 / 线路）"},
    {"firstGroup", "第一组（A1 B1 C1）"},
    {"secondGroup", "第二组（A2 B2 C2）"},
    {"voltageLevel", "电压等级"},
    {"instrumentNo", "仪器编号"},
    {"operator", "操作人"},
    {"supervisor", "监护人"},
    {"remarks", "备注"},
};

// The page, in millimetres.
constexpr double kFooterMm = 9;
constexpr double kLabelColumnMm = 40;
constexpr double kCellPadMm = 1.6;
constexpr double kFieldRowMinMm = 8;
constexpr double kSectionHeadMm = 7.5;
constexpr double kTableRowMm = 6.5;
constexpr double kDiagramMm = 58;
// Wider than high: the legend stands left of the circle, clear of the names above it.
constexpr double kDiagramWideMm = 76;
constexpr double kInnerGapMm = 3;
constexpr double kSectionGapMm = 6;
constexpr double kSignatureGapMm = 12;
constexpr double kSignatureMm = 10;
constexpr double kDiagramTextPoints = 6.5;

const QColor kRule(110, 110, 110);
const QColor kHeadFill(236, 240, 245);
const QColor kFaint(90, 90, 90);
const QColor kUndetermined(183, 110, 0);

QString u(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QFont reportFont(double points, bool bold = false) {
    QFont f = HeiFont(points, bold);
    // Latin letters and digits from the font's own cmap: with its contextual forms a PDF's
    // text loses a digit that follows a letter ("A1A2" would read "A A").
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

// What the user typed, as lines to print: a line break breaks the line, any other control
// character is a blank.
QString printable(QString s) {
    s.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    for (QChar& c : s) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator) {
            c = QChar::LineSeparator;
        } else if (c.category() == QChar::Other_Control) {
            c = QLatin1Char(' ');
        }
    }
    return s;
}

// A paragraph broken into lines no wider than `width`, at word boundaries where it can and
// anywhere where it must, so that no text leaves its box.
class Paragraph {
public:
    Paragraph(const QString& text, const QFont& font, const QPaintDevice* device, double width)
        : layout_(std::make_shared<QTextLayout>(text, font, device)) {
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout_->setTextOption(option);
        layout_->beginLayout();
        double y = 0;
        for (QTextLine line = layout_->createLine(); line.isValid(); line = layout_->createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, y));
            y += line.height();
        }
        layout_->endLayout();
        empty_ = QFontMetricsF(font, device).lineSpacing();
    }

    int lines() const { return layout_->lineCount(); }
    double lineHeight(int i) const {
        return i >= 0 && i < lines() ? layout_->lineAt(i).height() : empty_;
    }
    double height() const {
        double h = 0;
        for (int i = 0; i < std::max(1, lines()); ++i) h += lineHeight(i);
        return h;
    }
    // Lines from..from+count-1, the first with its top at `topLeft`.
    void draw(QPainter& p, QPointF topLeft, int from, int count) const {
        const int end = std::min(lines(), from + count);
        if (from >= end) return;
        const QPointF shift = topLeft - QPointF(0, layout_->lineAt(from).y());
        for (int i = from; i < end; ++i) layout_->lineAt(i).draw(&p, shift);
    }

private:
    std::shared_ptr<QTextLayout> layout_;
    double empty_ = 0;
};

using Paint = std::function<void(QPainter&, double top)>;

// Blocks placed down the pages: one that does not fit goes to the top of the next page.
class Flow {
public:
    explicit Flow(double body) : body_(body) {}

    double remaining() const { return body_ - y_; }
    bool atTop() const { return y_ <= 0; }
    void newPage() {
        ++page_;
        y_ = 0;
    }
    void place(double height, Paint paint) {
        if (!atTop() && height > remaining()) newPage();
        placed_.push_back({page_, y_, std::move(paint)});
        y_ += height;
    }
    // Space between blocks; none at the top of a page.
    void gap(double h) {
        if (!atTop()) y_ = std::min(body_, y_ + h);
    }
    int pages() const { return page_ + 1; }

    struct Placed {
        int page;
        double top;
        Paint paint;
    };
    const std::vector<Placed>& placed() const { return placed_; }

private:
    double body_;
    double y_ = 0;
    int page_ = 0;
    std::vector<Placed> placed_;
};

// Sizes of one device: millimetres in its units, the width of a page and the height of its
// body above the footer.
struct Page {
    const QPaintDevice* device;
    double perMm;
    double width;
    double body;
    double mm(double v) const { return v * perMm; }
};

void box(QPainter& p, const QRectF& r, const QColor& fill = Qt::transparent) {
    p.save();
    p.setPen(QPen(kRule, 0));
    p.setBrush(fill == Qt::transparent ? QBrush(Qt::NoBrush) : QBrush(fill));
    p.drawRect(r);
    p.restore();
}

void text(QPainter& p, const QRectF& r, const QString& s, const QFont& font, const QColor& colour,
          int flags = Qt::AlignCenter) {
    p.save();
    p.setFont(font);
    p.setPen(colour);
    p.drawText(r, flags | Qt::TextSingleLine, s);
    p.restore();
}

void placeTitle(Flow& flow, const Page& page, const PhasingReport& report) {
    const QFont title = reportFont(20, true);
    const QFont small = reportFont(9);
    const double titleH = QFontMetricsF(title, page.device).lineSpacing();
    const double smallH = QFontMetricsF(small, page.device).lineSpacing();
    const QString made =
        QStringLiteral("制表时间 ") + report.made.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    flow.place(titleH + smallH + page.mm(1), [=](QPainter& p, double top) {
        text(p, QRectF(0, top, page.width, titleH), QStringLiteral("核相报告"), title, Qt::black);
        text(p, QRectF(0, top + titleH + page.mm(1), page.width, smallH), made, small, kFaint,
             Qt::AlignRight | Qt::AlignVCenter);
    });
    flow.gap(page.mm(3));
}

// The fields as a two-column table. A long field wraps inside its cell, and a row taller than
// what is left of the page goes on over the next one, its name marked as continued.
void placeFields(Flow& flow, const Page& page, const PhasingReport& report) {
    const QFont font = reportFont(10);
    const QFont bold = reportFont(10, true);
    const double pad = page.mm(kCellPadMm);
    const double labelW = page.mm(kLabelColumnMm);
    const double valueW = page.width - labelW;
    for (std::size_t f = 0; f < kReportFieldCount; ++f) {
        const QString name = QString::fromUtf8(kFields[f].label);
        const auto label = std::make_shared<Paragraph>(name, bold, page.device, labelW - 2 * pad);
        const auto continued = std::make_shared<Paragraph>(name + QStringLiteral("（续）"), bold,
                                                           page.device, labelW - 2 * pad);
        const auto value = std::make_shared<Paragraph>(printable(report.fields[f]), font,
                                                       page.device, valueW - 2 * pad);
        const int lines = std::max({1, label->lines(), value->lines()});
        auto lineHeight = [label, value](int i) {
            return std::max(i < label->lines() ? label->lineHeight(i) : 0.0, value->lineHeight(i));
        };
        int done = 0;
        while (done < lines) {
            int take = 0;
            double h = 0;
            while (done + take < lines &&
                   h + lineHeight(done + take) <= flow.remaining() - 2 * pad) {
                h += lineHeight(done + take);
                ++take;
            }
            if (take == 0) {
                if (!flow.atTop()) {
                    flow.newPage();
                    continue;
                }
                // A page lower than one line: the line goes there anyway.
                take = 1;
                h = lineHeight(done);
            }
            const bool first = done == 0;
            const bool whole = first && take == lines;
            const double rowH =
                whole ? std::max(h + 2 * pad, page.mm(kFieldRowMinMm)) : h + 2 * pad;
            flow.place(rowH, [=](QPainter& p, double top) {
                box(p, QRectF(0, top, labelW, rowH), kHeadFill);
                box(p, QRectF(labelW, top, valueW, rowH));
                p.save();
                p.setPen(Qt::black);
                const Paragraph& l = first ? *label : *continued;
                const double lh = std::min(rowH - 2 * pad, l.height());
                l.draw(p, QPointF(pad, top + (whole ? (rowH - lh) / 2 : pad)), 0, take);
                const double vh = whole ? value->height() : h;
                value->draw(p, QPointF(labelW + pad, top + (whole ? (rowH - vh) / 2 : pad)), done,
                            take);
                p.restore();
            });
            done += take;
        }
    }
}

QString portText(int port) {
    return port > 0 ? QStringLiteral("COM%1").arg(port) : QStringLiteral("未知");
}

// One reading: a heading with its time and port, its voltages and angles with their verdicts,
// its phasor diagram, and its conclusion. Never split over two pages.
void placeReading(Flow& flow, const Page& page, const ReportReading& r) {
    const QFont head = reportFont(11, true);
    const QFont font = reportFont(10);
    const QFont bold = reportFont(10, true);
    const QFont small = reportFont(9);
    const QFont findingFont = reportFont(13, true);
    const double pad = page.mm(2);
    const double d = page.mm(kDiagramMm);
    const double dw = page.mm(kDiagramWideMm);
    const double leftW = page.width - dw - page.mm(kInnerGapMm);
    const double row = page.mm(kTableRowMm);
    const double tablesH = 5 * row + page.mm(kInnerGapMm);

    const measure::PhasingConclusion c = measure::Conclude(r.group);
    const QColor colour = FindingColour(c.finding);
    const QString findingLine = QStringLiteral("结论：") + u(measure::FindingText(c.finding));
    // The pairs on a line of their own, so that a verdict is never broken over two lines.
    QString sequence = QStringLiteral("相序（供参考，不改变结论）：") + QChar(QChar::LineSeparator);
    for (std::size_t k = 0; k < 3; ++k) {
        const auto pair = static_cast<Pair>(3 + k);
        sequence += (k ? QStringLiteral("　") : QString()) + u(measure::PairName(pair)) +
                    QChar(QChar::Nbsp) + u(measure::VerdictText(c.sequence[k]));
    }
    const auto detail = std::make_shared<Paragraph>(u(measure::ConclusionDetail(c)), bold,
                                                    page.device, leftW - 2 * pad);
    const auto sequenceText =
        std::make_shared<Paragraph>(sequence, small, page.device, leftW - 2 * pad);
    const double findingH = QFontMetricsF(findingFont, page.device).lineSpacing();
    const double conclusionH =
        std::max(findingH + detail->height() + sequenceText->height() + page.mm(1) + 2 * pad,
                 d - tablesH - page.mm(kInnerGapMm));
    const double bodyH = std::max(d, tablesH + page.mm(kInnerGapMm) + conclusionH);
    const double height = kSectionHeadMm * page.perMm + page.mm(2) + bodyH;

    const QString title = r.stored() ? QStringLiteral("历史记录　第 %1 组").arg(r.groupNumber)
                                     : QStringLiteral("实时读数");
    const QString when = (r.stored() ? QStringLiteral("读取时间 ") : QStringLiteral("读数时间 ")) +
                         r.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                         QStringLiteral("　　串口 ") + portText(r.port);
    const measure::PhasorDiagram diagram = measure::PhasorGeometry(r.group);
    const double diagramText = kDiagramTextPoints / 72.0 * 25.4 * page.perMm;

    flow.place(height, [=](QPainter& p, double top) {
        const double headH = page.mm(kSectionHeadMm);
        box(p, QRectF(0, top, page.width, headH), kHeadFill);
        text(p, QRectF(pad, top, page.width - 2 * pad, headH), title, head, Qt::black,
             Qt::AlignLeft | Qt::AlignVCenter);
        text(p, QRectF(pad, top, page.width - 2 * pad, headH), when, small, Qt::black,
             Qt::AlignRight | Qt::AlignVCenter);
        const double y0 = top + headH + page.mm(2);

        // Voltages, then angles and verdicts, each under the names of its inputs or pairs.
        const double cellW = leftW / 7;
        auto rowOf = [&](double y, const QString& name, auto cellText, const QFont& f,
                         bool heading) {
            box(p, QRectF(0, y, cellW, row), kHeadFill);
            text(p, QRectF(0, y, cellW, row), name, bold, Qt::black);
            for (int k = 0; k < 6; ++k) {
                const QRectF cell(cellW * (k + 1), y, cellW, row);
                box(p, cell, heading ? kHeadFill : QColor(Qt::transparent));
                const auto [s, tone] = cellText(k);
                text(p, cell, s, f, tone);
            }
        };
        const bool stored = r.stored();
        rowOf(
            y0, QStringLiteral("输入"),
            [](int k) {
                return std::pair{u(measure::InputName(static_cast<Input>(k))), QColor(Qt::black)};
            },
            bold, true);
        rowOf(
            y0 + row, QStringLiteral("电压"),
            [&](int k) {
                const uint8_t kv = r.group.voltages[static_cast<std::size_t>(k)];
                return std::pair{QString::fromStdString(stored ? measure::FormatStoredVoltage(kv)
                                                               : measure::FormatLiveVoltage(kv)),
                                 QColor(Qt::black)};
            },
            font, false);
        const double ya = y0 + 2 * row + page.mm(kInnerGapMm);
        rowOf(
            ya, QStringLiteral("相别"),
            [](int k) {
                return std::pair{u(measure::PairName(static_cast<Pair>(k))), QColor(Qt::black)};
            },
            bold, true);
        rowOf(
            ya + row, QStringLiteral("相位"),
            [&](int k) {
                return std::pair{
                    QString::fromStdString(diagram.verdicts[static_cast<std::size_t>(k)].angleText),
                    QColor(Qt::black)};
            },
            font, false);
        rowOf(
            ya + 2 * row, QStringLiteral("定性"),
            [&](int k) {
                const measure::PairVerdict& v = diagram.verdicts[static_cast<std::size_t>(k)];
                return std::pair{u(v.verdict), ToneColour(v.tone)};
            },
            bold, false);

        // The conclusion, in its colour and in words.
        const QRectF cbox(0, ya + 3 * row + page.mm(kInnerGapMm), leftW, conclusionH);
        p.save();
        p.setPen(QPen(colour, page.mm(0.6)));
        p.setBrush(Qt::NoBrush);
        p.drawRect(cbox.adjusted(page.mm(0.3), page.mm(0.3), -page.mm(0.3), -page.mm(0.3)));
        p.restore();
        double y = cbox.top() + pad;
        text(p, QRectF(cbox.left() + pad, y, cbox.width() - 2 * pad, findingH), findingLine,
             findingFont, colour, Qt::AlignLeft | Qt::AlignVCenter);
        y += findingH;
        p.save();
        p.setPen(colour);
        detail->draw(p, QPointF(cbox.left() + pad, y), 0, detail->lines());
        y += detail->height() + page.mm(1);
        p.setPen(kFaint);
        sequenceText->draw(p, QPointF(cbox.left() + pad, y), 0, sequenceText->lines());
        p.restore();

        const QRectF area(page.width - dw, y0, dw, d);
        box(p, area);
        PaintPhasorDiagram(p, area.adjusted(pad / 2, pad / 2, -pad / 2, -pad / 2), &diagram,
                           diagramText);
    });
    flow.gap(page.mm(kSectionGapMm));
}

void placeSignatures(Flow& flow, const Page& page) {
    const QFont font = reportFont(10.5);
    const double lh = QFontMetricsF(font, page.device).lineSpacing();
    flow.gap(page.mm(kSignatureGapMm));
    flow.place(std::max(page.mm(kSignatureMm), lh), [=](QPainter& p, double top) {
        const QString names[] = {QStringLiteral("操作人（签字）："),
                                 QStringLiteral("监护人（签字）："), QStringLiteral("日期：")};
        const double colW = page.width / 3;
        const QFontMetricsF fm(font, page.device);
        const double baseline = top + lh;
        for (int i = 0; i < 3; ++i) {
            const double x = colW * i;
            p.save();
            p.setFont(font);
            p.setPen(Qt::black);
            p.drawText(QPointF(x, baseline - fm.descent()), names[i]);
            p.setPen(QPen(Qt::black, page.mm(0.25)));
            const double from = x + fm.horizontalAdvance(names[i]);
            p.drawLine(QPointF(from, baseline), QPointF(x + colW - page.mm(5), baseline));
            p.restore();
        }
    });
}

void paintFooter(QPainter& p, const Page& page, int n, int total) {
    const QFont font = reportFont(9);
    text(p, QRectF(0, page.body + page.mm(2), page.width, page.mm(kFooterMm - 2)),
         QStringLiteral("第 %1 页 / 共 %2 页").arg(n).arg(total), font, kFaint,
         Qt::AlignHCenter | Qt::AlignBottom);
}

}  // namespace

QString ReportFieldLabel(ReportField f) {
    return QString::fromUtf8(kFields[static_cast<std::size_t>(f)].label);
}

QString ReportFieldKey(ReportField f) {
    return QString::fromLatin1(kFields[static_cast<std::size_t>(f)].key);
}

QColor FindingColour(measure::Finding f) {
    switch (f) {
        case measure::Finding::InPhase:
            return ToneColour(measure::Tone::Good);
        case measure::Finding::OutOfPhase:
            return ToneColour(measure::Tone::Bad);
        case measure::Finding::Undetermined:
            return kUndetermined;
    }
    return kUndetermined;
}

void UseReportPageLayout(QPagedPaintDevice& device) {
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
}

QString PaintPhasingReport(QPagedPaintDevice& device, const PhasingReport& report) {
    QPainter p;
    if (!p.begin(&device)) return QStringLiteral("无法在设备上开始绘制报告");
    const double perMm = device.logicalDpiY() / 25.4;
    const Page page{&device, perMm, static_cast<double>(device.width()),
                    device.height() - kFooterMm * perMm};

    // Laid out first, so that every page can say how many there are.
    Flow flow(page.body);
    placeTitle(flow, page, report);
    placeFields(flow, page, report);
    flow.gap(page.mm(kSectionGapMm));
    for (const ReportReading& r : report.readings) placeReading(flow, page, r);
    placeSignatures(flow, page);

    const int total = flow.pages();
    auto next = flow.placed().begin();
    for (int n = 0; n < total; ++n) {
        if (n > 0 && !device.newPage()) {
            p.end();
            return QStringLiteral("无法开始新的一页");
        }
        for (; next != flow.placed().end() && next->page == n; ++next) next->paint(p, next->top);
        paintFooter(p, page, n + 1, total);
    }
    if (!p.end()) return QStringLiteral("报告未能写完");
    return {};
}

QByteArray PhasingReportPdf(const PhasingReport& report, QString* error) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QString why;
    {
        QPdfWriter writer(&buffer);
        writer.setTitle(QStringLiteral("核相报告"));
        writer.setCreator(QStringLiteral("Check Korvelt"));
        UseReportPageLayout(writer);
        why = PaintPhasingReport(writer, report);
    }
    if (!why.isEmpty()) {
        if (error) *error = why;
        return {};
    }
    return RepairPdfText(bytes, ReportFontIdeographs());
}

}  // namespace ck::views
