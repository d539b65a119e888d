// SPDX-License-Identifier: MIT
#include "views/phasor_window.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "views/fonts.h"

namespace ck::views {
namespace {

using measure::Input;
using measure::Pair;
using measure::Tone;

const QColor kFirstGroupColour(38, 50, 56);
const QColor kSecondGroupColour(21, 101, 192);
const QColor kMissingColour(150, 150, 150);
const QColor kGridColour(205, 205, 205);

// Room around the circle for the phasor names, as a share of the shorter side.
constexpr double kMarginShare = 0.13;
// Radii of the three cross-pair arcs, as shares of the circle's radius.
constexpr std::array<double, 3> kArcRadii = {0.24, 0.34, 0.44};

QString u(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The point at `r` and `deg` (counter-clockwise from the right) around `c`, on a screen whose
// y axis points down.
QPointF polar(QPointF c, double r, double deg) {
    const double rad = deg * std::numbers::pi / 180.0;
    return {c.x() + r * std::cos(rad), c.y() - r * std::sin(rad)};
}

QPointF unit(double deg) { return polar({0, 0}, 1.0, deg); }

void arrowHead(QPainter& p, QPointF tip, QPointF dir, double size, const QColor& colour) {
    const QPointF normal(-dir.y(), dir.x());
    const QPolygonF head{tip, tip - dir * size + normal * (size * 0.42),
                         tip - dir * size - normal * (size * 0.42)};
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(head);
    p.restore();
}

// Text centred on `at`, on a light ground so that lines beneath it do not hide it.
void label(QPainter& p, QPointF at, const QString& text, const QColor& colour, double hair) {
    const QFontMetricsF fm(p.font(), p.device());
    const QSizeF size(fm.horizontalAdvance(text) + fm.height() * 0.3, fm.height());
    const QRectF box(at - QPointF(size.width() / 2, size.height() / 2), size);
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 210));
    p.drawRoundedRect(box, 2 * hair, 2 * hair);
    p.setPen(colour);
    p.drawText(box, Qt::AlignCenter, text);
    p.restore();
}

QString styleFor(Tone tone) {
    return QStringLiteral("color: %1; font-weight: bold;").arg(ToneColour(tone).name());
}

const char* toneName(Tone tone) {
    switch (tone) {
        case Tone::Good:
            return "good";
        case Tone::Bad:
            return "bad";
        case Tone::None:
            return "none";
    }
    return "none";
}

}  // namespace

QColor ToneColour(Tone tone) {
    switch (tone) {
        case Tone::Good:
            return {27, 127, 59};
        case Tone::Bad:
            return {198, 40, 40};
        case Tone::None:
            return {117, 117, 117};
    }
    return {117, 117, 117};
}

PhasorDiagramView::PhasorDiagramView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PhasorDiagram"));
    setAccessibleName(QStringLiteral("相量图"));
    setAccessibleDescription(QStringLiteral("尚无实时读数"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
}

void PhasorDiagramView::setReading(const measure::MeasurementGroup& g) {
    diagram_ = measure::PhasorGeometry(g);
    QStringList lines;
    for (const measure::Phasor& p : diagram_->phasors)
        lines << QString::fromStdString(p.description());
    setAccessibleDescription(lines.join(QStringLiteral("；")));
    update();
}

QPointF DiagramCentre(const QRectF& area) { return area.center(); }

double DiagramRadius(const QRectF& area) {
    return std::min(area.width(), area.height()) * (0.5 - kMarginShare);
}

QPointF PhasorDiagramView::centre() const { return DiagramCentre(QRectF(rect())); }

double PhasorDiagramView::radius() const { return DiagramRadius(QRectF(rect())); }

QPointF PhasorDiagramView::tipOf(Input in) const {
    if (!diagram_) return centre();
    const measure::Phasor& p = diagram_->phasors[measure::idx(in)];
    return polar(centre(), radius() * p.length, p.angleDeg);
}

void PhasorDiagramView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintPhasorDiagram(p, QRectF(rect()), diagram_ ? &*diagram_ : nullptr);
}

void PaintPhasorDiagram(QPainter& p, const QRectF& area, const measure::PhasorDiagram* diagram,
                        double minTextPixels) {
    // Everything scaled from the area's size: sharp at any screen scale, and the same picture
    // on paper.
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QPointF c = DiagramCentre(area);
    const double r = DiagramRadius(area);
    const double side = std::min(area.width(), area.height());
    QFont font = HeiFont(9);
    // Latin and digits from the font's own cmap, so that a PDF's text says what it shows.
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setPixelSize(static_cast<int>(std::max(minTextPixels, side * 0.036)));
    p.setFont(font);
    const double stroke = std::max(1.5, side * 0.007);
    // A window's hairline, the same share of a larger area.
    const double hair = std::max(1.0, side / 460.0);

    // The circle and the reference directions of the three phases.
    p.setPen(QPen(kGridColour, hair));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r, r);
    QPen spoke(kGridColour, hair, Qt::DotLine);
    p.setPen(spoke);
    for (const int deg : {0, 120, -120}) p.drawLine(c, polar(c, r, deg));

    if (diagram == nullptr) {
        label(p, c, QStringLiteral("尚无实时读数"), ToneColour(Tone::None), hair);
        p.restore();
        return;
    }
    const measure::PhasorDiagram& d = *diagram;

    // The cross pairs: from the first group's phasor, clockwise by the measured angle, in the
    // colour of the sequence verdict.
    for (std::size_t k = 0; k < d.arcs.size(); ++k) {
        const measure::CrossArc& a = d.arcs[k];
        if (!a.valid || a.sweepDeg == 0) continue;
        const double ar = r * kArcRadii[k];
        const QColor colour = ToneColour(a.tone);
        p.setPen(QPen(colour, stroke * 0.8, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(QRectF(c.x() - ar, c.y() - ar, 2 * ar, 2 * ar), a.startDeg * 16, a.sweepDeg * 16);
        const double end = a.startDeg + a.sweepDeg;
        // Moving clockwise, the tangent at `end` points this way on the screen.
        const QPointF along = unit(end - 90);
        arrowHead(p, polar(c, ar, end), along, stroke * 4, colour);
        label(p, polar(c, ar, a.startDeg + a.sweepDeg / 2.0),
              QStringLiteral("%1 %2°").arg(u(measure::PairName(a.pair)), u(a.angleText)), colour,
              hair);
    }

    // The phasors: the first group solid, the second solid in its own colour, anything without
    // a reading dashed and grey without an arrowhead.
    const QFontMetricsF fm(font, p.device());
    for (const measure::Phasor& ph : d.phasors) {
        const bool first = measure::idx(ph.input) < measure::idx(Input::A2);
        const QColor colour =
            ph.missing() ? kMissingColour : (first ? kFirstGroupColour : kSecondGroupColour);
        const QPointF dir = unit(ph.angleDeg);
        const QPointF tip = polar(c, r * ph.length, ph.angleDeg);
        const double head = stroke * 4.5;
        if (ph.missing()) {
            p.setPen(QPen(colour, stroke, Qt::DashLine, Qt::FlatCap));
            p.drawLine(c, tip);
        } else {
            p.setPen(QPen(colour, first ? stroke * 1.4 : stroke, Qt::SolidLine, Qt::FlatCap));
            p.drawLine(c, tip - dir * (head * 0.8));
            arrowHead(p, tip, dir, head, colour);
        }
        // Names on either side of the phasor, so that an in-phase pair keeps both readable.
        const QPointF normal(-dir.y(), dir.x());
        const QPointF at =
            tip + dir * (fm.height() * 0.9) + normal * (fm.height() * (first ? 0.55 : -0.55));
        label(p, at, u(ph.name) + (ph.missing() ? QStringLiteral("?") : QString()), colour, hair);
    }

    // Legend, top left.
    const double lh = fm.height() * 1.25;
    const double x0 = area.left() + fm.height() * 0.5;
    struct Key {
        QString text;
        QColor colour;
        Qt::PenStyle style;
    };
    const Key keys[] = {{QStringLiteral("第一组（参考）"), kFirstGroupColour, Qt::SolidLine},
                        {QStringLiteral("第二组"), kSecondGroupColour, Qt::SolidLine},
                        {QStringLiteral("无读数"), kMissingColour, Qt::DashLine}};
    for (int i = 0; i < 3; ++i) {
        const double y = area.top() + lh * (i + 0.8);
        p.setPen(QPen(keys[i].colour, stroke, keys[i].style, Qt::FlatCap));
        p.drawLine(QPointF(x0, y), QPointF(x0 + fm.height() * 1.6, y));
        p.setPen(keys[i].colour);
        p.drawText(QPointF(x0 + fm.height() * 2.0, y + fm.ascent() * 0.35), keys[i].text);
    }
    p.restore();
}

PhasorWindow::PhasorWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("PhasorWindow"));
    setWindowTitle(QStringLiteral("相量图"));
    // A window beside the main one: it never keeps the program running on its own.
    setAttribute(Qt::WA_QuitOnClose, false);

    diagram_ = new PhasorDiagramView(this);
    auto* side = new QFrame(this);
    side->setObjectName(QStringLiteral("PhasorTexts"));
    auto* grid = new QGridLayout(side);
    const QFont body = HeiFont(10.5);
    const QFont head = HeiFont(10.5, true);
    int row = 0;
    auto heading = [&](const QString& text) {
        auto* l = new QLabel(text, side);
        l->setFont(head);
        grid->addWidget(l, row++, 0, 1, 3);
    };

    heading(QStringLiteral("相量"));
    for (std::size_t i = 0; i < 6; ++i) {
        const auto in = static_cast<Input>(i);
        auto* l = new QLabel(u(measure::InputName(in)) + QStringLiteral("：尚无读数"), side);
        l->setObjectName(QStringLiteral("phasor") + u(measure::InputName(in)));
        l->setFont(body);
        l->setAccessibleName(u(measure::InputName(in)));
        l->setAccessibleDescription(l->text());
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(l, row++, 0, 1, 3);
        phasorLabels_[i] = l;
    }
    for (const bool sequence : {false, true}) {
        heading(sequence ? QStringLiteral("定性相序") : QStringLiteral("定性相位"));
        for (std::size_t k = sequence ? 3 : 0; k < (sequence ? 6u : 3u); ++k) {
            const auto pair = static_cast<Pair>(k);
            const QString name = u(measure::PairName(pair));
            auto* n = new QLabel(name, side);
            n->setFont(body);
            auto* a = new QLabel(QStringLiteral("------"), side);
            a->setObjectName(QStringLiteral("angle") + name);
            a->setFont(body);
            a->setAccessibleName(name + QStringLiteral(" 相位"));
            auto* v = new QLabel(QStringLiteral("------"), side);
            v->setObjectName(QStringLiteral("verdict") + name);
            v->setFont(body);
            v->setAccessibleName(
                name + (sequence ? QStringLiteral(" 定性相序") : QStringLiteral(" 定性相位")));
            v->setStyleSheet(styleFor(Tone::None));
            v->setProperty("tone", QString::fromLatin1(toneName(Tone::None)));
            grid->addWidget(n, row, 0);
            grid->addWidget(a, row, 1);
            grid->addWidget(v, row++, 2);
            angleLabels_[k] = a;
            verdictLabels_[k] = v;
        }
    }
    notes_ = new QLabel(side);
    notes_->setObjectName(QStringLiteral("notes"));
    notes_->setFont(body);
    notes_->setWordWrap(true);
    notes_->setStyleSheet(QStringLiteral("color: #555555;"));
    notes_->setAccessibleName(QStringLiteral("缺少的读数"));
    grid->addWidget(notes_, row++, 0, 1, 3);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(2, 1);

    // The texts keep one width whatever the reading, so the diagram does not jump about; it
    // takes what the window has beyond them.
    const QString widest = QStringLiteral("C2：相位读数无效（32767），无电压读数  ");
    side->setMinimumWidth(QFontMetrics(body).horizontalAdvance(widest) +
                          grid->contentsMargins().left() + grid->contentsMargins().right());
    side->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(diagram_, 1);
    layout->addWidget(side, 0);
    layout->activate();
    resize(std::max(860, sizeHint().width()), 540);
}

void PhasorWindow::showReading(const measure::MeasurementGroup& g) {
    diagram_->setReading(g);
    const measure::PhasorDiagram& d = *diagram_->diagram();
    QStringList notes;
    for (std::size_t i = 0; i < 6; ++i) {
        const measure::Phasor& p = d.phasors[i];
        const QString text = QString::fromStdString(p.description());
        phasorLabels_[i]->setText(text);
        phasorLabels_[i]->setAccessibleDescription(text);
        phasorLabels_[i]->setStyleSheet(p.missing() ? QStringLiteral("color: #777777;")
                                                    : QString());
        if (!p.missing()) continue;
        notes << QString::fromStdString(p.note());
    }
    for (std::size_t k = 0; k < 6; ++k) {
        const measure::PairVerdict& v = d.verdicts[k];
        angleLabels_[k]->setText(QString::fromStdString(v.angleText));
        angleLabels_[k]->setAccessibleDescription(angleLabels_[k]->text());
        verdictLabels_[k]->setText(u(v.verdict));
        verdictLabels_[k]->setAccessibleDescription(verdictLabels_[k]->text());
        verdictLabels_[k]->setStyleSheet(styleFor(v.tone));
        verdictLabels_[k]->setProperty("tone", QString::fromLatin1(toneName(v.tone)));
    }
    notes_->setText(notes.join(QLatin1Char('\n')));
    notes_->setAccessibleDescription(notes_->text());
}

}  // namespace ck::views
