// SPDX-License-Identifier: MIT
#include "views/live_panel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QHash>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <string_view>

#include "measure/measurement.h"
#include "views/fonts.h"
#include "views/twips.h"

namespace ck::views {
namespace {

constexpr double kPanelPoints = 27.75;

// The frame's design size; the window places it, this only keeps a free-standing panel whole.
constexpr int kFrameWidth = 11535;
constexpr int kFrameHeight = 7695;

enum class Face : uint8_t { Head, Value };

struct LabelSpec {
    int n;
    int left, top, width, height;
    const char* caption;  // UTF-8
    Face face;
};

// Every label of the panel with its design rectangle (twips) and caption.
constexpr LabelSpec kLabelSpecs[] = {
    {37, 2400, 480, 1170, 555, "电压", Face::Head},
    {38, 4560, 480, 2340, 555, "定性相位", Face::Head},
    {39, 8400, 480, 2340, 555, "定性相序", Face::Head},
    {1, 480, 1800, 720, 660, "A1", Face::Value},
    {2, 480, 2640, 720, 660, "A2", Face::Value},
    {3, 480, 3840, 720, 660, "B1", Face::Value},
    {4, 480, 4680, 720, 660, "B2", Face::Value},
    {5, 480, 5880, 720, 660, "C1", Face::Value},
    {6, 480, 6720, 720, 660, "C2", Face::Value},
    {11, 2160, 1800, 1200, 660, "-- kV", Face::Value},
    {12, 2160, 2640, 1200, 660, "-- kV", Face::Value},
    {13, 2160, 3840, 1200, 660, "-- kV", Face::Value},
    {14, 2160, 4680, 1200, 660, "-- kV", Face::Value},
    {15, 2160, 5880, 1200, 660, "-- kV", Face::Value},
    {16, 2160, 6720, 1200, 660, "-- kV", Face::Value},
    {21, 5040, 1800, 1080, 660, "------", Face::Value},
    {22, 5040, 2640, 1080, 660, "------", Face::Value},
    {23, 5040, 3720, 1080, 660, "------", Face::Value},
    {24, 5040, 4560, 1080, 660, "------", Face::Value},
    {25, 5040, 5880, 1080, 660, "------", Face::Value},
    {26, 5040, 6720, 1080, 660, "------", Face::Value},
    {31, 9000, 1800, 1080, 660, "------", Face::Value},
    {32, 9000, 2640, 1080, 660, "------", Face::Value},
    {33, 9000, 3720, 1080, 660, "------", Face::Value},
    {34, 9000, 4560, 1080, 660, "------", Face::Value},
    {35, 9000, 5880, 1080, 660, "------", Face::Value},
    {36, 9000, 6720, 1080, 660, "------", Face::Value},
};

// Lamps Shape1..Shape6 (A1, A2, B1, B2, C1, C2): left 1320, 375 x 255 twips.
constexpr int kLampTops[] = {2020, 2850, 4050, 4900, 6120, 6975};

// The value label of panel cell (row, column): Label11..16, Label21..26, Label31..36.
constexpr int valueLabel(int row, measure::PanelColumn column) {
    return 11 + 10 * static_cast<int>(column) + row;
}
constexpr measure::PanelColumn kPanelColumns[] = {
    measure::PanelColumn::Voltage, measure::PanelColumn::Phase, measure::PanelColumn::Sequence};

// What a screen reader calls the labels whose text is a reading, and the lamps; their own
// texts say only "10 kV" or "同相". Named after their row and column, in the words of the
// column heads and of the session log.
constexpr const char* kVoltageName = "电压";
constexpr const char* kAngleName = "相位";
constexpr const char* kPhaseVerdictName = "定性相位";
constexpr const char* kSequenceVerdictName = "定性相序";
constexpr const char* kLampName = "指示灯";
constexpr const char* kLampOn = "亮";
constexpr const char* kLampOff = "灭";

// The design's system colours as palette roles: window background (5) is Base, menu text (7)
// WindowText, button text (18) ButtonText. Qt has no title-bar role: the active title text (9)
// is black in the schemes Windows has shipped since Vista, and a light role would make the
// inner border and the B/C separator vanish on the white panel, so it reads as WindowText too.
enum class Ink : uint8_t { ButtonText, MenuText, TitleText, Black };

QColor inkColour(Ink ink, const QPalette& pal) {
    switch (ink) {
        case Ink::ButtonText:
            return pal.color(QPalette::ButtonText);
        case Ink::MenuText:
            return pal.color(QPalette::WindowText);
        case Ink::TitleText:
            return pal.color(QPalette::WindowText);
        case Ink::Black:
            return Qt::black;
    }
    return Qt::black;
}

struct LineSpec {
    int x1, y1, x2, y2;  // twips
    Ink ink;
    int width;  // pixels
};

// Line4, Line1, Line2, Line3 (outer border), Line13, Line15, Line11, Line14 (inner border),
// Line5 under the heads, Line8 and Line6 between the input groups, Line10 and Line9 between
// the columns.
constexpr LineSpec kLines[] = {
    {0, 40, 11520, 40, Ink::ButtonText, 6},      {0, 7650, 11760, 7650, Ink::ButtonText, 6},
    {30, 0, 30, 7680, Ink::ButtonText, 6},       {11505, 0, 11505, 7680, Ink::Black, 6},
    {120, 105, 11400, 105, Ink::TitleText, 5},   {120, 7570, 11400, 7570, Ink::TitleText, 5},
    {105, 120, 105, 7560, Ink::TitleText, 5},    {11420, 120, 11420, 7560, Ink::TitleText, 5},
    {0, 1395, 11520, 1395, Ink::MenuText, 5},    {120, 3480, 11400, 3480, Ink::MenuText, 5},
    {120, 5520, 11400, 5520, Ink::TitleText, 5}, {3840, 120, 3840, 7560, Ink::MenuText, 5},
    {7680, 120, 7680, 7560, Ink::MenuText, 5},
};

QString fromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// "A1 电压", "A1A2 相位" on a letter's first row, "A1A2 定性相位" or "A1B2 定性相序" on its second.
QString readerName(int row, measure::PanelColumn column) {
    if (column == measure::PanelColumn::Voltage) {
        return fromUtf8(measure::InputName(measure::kPanelInputs[static_cast<std::size_t>(row)])) +
               QLatin1Char(' ') + QString::fromUtf8(kVoltageName);
    }
    const measure::Pair pair = measure::PanelPair(row, column);
    const char* what = row % 2 == 0                                           ? kAngleName
                       : measure::KindOf(pair) == measure::PairKind::Sequence ? kSequenceVerdictName
                                                                              : kPhaseVerdictName;
    return fromUtf8(measure::PairName(pair)) + QLatin1Char(' ') + QString::fromUtf8(what);
}

// Outline bounds of the text as drawn from a baseline origin. The font metrics' tight
// bounds are too coarse here (a CJK glyph reports its whole em box).
// Outlines are costly and the panel shows few distinct texts, so their bounds are kept.
// `fontKey` is the font's key(), which the caller keeps: making it is not cheap.
QRectF inkOf(const QFont& font, const QString& fontKey, const QString& text) {
    static QHash<QString, QRectF> cache;
    const QString key = fontKey + QLatin1Char('\n') + text;
    if (const auto it = cache.constFind(key); it != cache.constEnd()) return *it;
    QPainterPath path;
    path.addText(0, 0, font, text);
    if (cache.size() > 4096) cache.clear();  // readings are bounded, but never let it grow
    return cache.insert(key, path.boundingRect()).value();
}

// A panel label. The design's large type overfills some rectangles ("顺相序" is three
// ems wide in a box of two, and CJK line boxes are taller than the rows), so the text is
// centred by its glyphs rather than its line box, and the panel widens the label about its
// centre when a caption would not fit.
class PanelLabel final : public QLabel {
public:
    PanelLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

    // Width the current caption needs, with half a pixel of air either side at least.
    int neededWidth() const { return static_cast<int>(std::ceil(ink(text()).width())) + 1; }

protected:
    void changeEvent(QEvent* e) override {
        if (e->type() == QEvent::FontChange) fontKey_.clear();
        QLabel::changeEvent(e);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setFont(font());
        p.setPen(palette().color(foregroundRole()));
        const QRectF caption = ink(text());
        // The baseline centres a reference run of digits, capitals and a CJK glyph, widened
        // by the caption's own glyphs: labels of a row share one baseline, hyphens sit where
        // they sit in "-- kV", and taller glyphs still stay inside the box.
        const QRectF band = caption.united(ink(QStringLiteral("0A同")));
        const QPointF origin(std::round(width() / 2.0 - caption.center().x()),
                             std::round(height() / 2.0 - band.center().y()));
        p.drawText(origin, text());
    }

private:
    QRectF ink(const QString& t) const {
        if (fontKey_.isEmpty()) fontKey_ = font().key();
        return inkOf(font(), fontKey_, t);
    }

    mutable QString fontKey_;
};

// An indicator lamp: a filled circle centred in its rectangle, ringed in a darker purple.
class Lamp final : public QWidget {
public:
    explicit Lamp(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        constexpr int kBorder = 4;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const int d = std::min(width(), height());
        const QRectF circle((width() - d) / 2.0, (height() - d) / 2.0, d, d);
        p.setPen(QPen(QColor(64, 0, 64), kBorder));
        p.setBrush(QColor(128, 0, 128));
        p.drawEllipse(
            circle.adjusted(kBorder / 2.0, kBorder / 2.0, -kBorder / 2.0, -kBorder / 2.0));
    }
};

// A dark lamp is hidden, as the design has it, but to a screen reader it is part of the
// reading like a lit one: it stays in view, in its place, and says whether it is lit.
class LampAccessible final : public QAccessibleWidget {
public:
    explicit LampAccessible(Lamp* lamp) : QAccessibleWidget(lamp, QAccessible::StaticText) {}

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.invisible = false;
        s.offscreen = widget()->parentWidget() && !widget()->parentWidget()->isVisible();
        return s;
    }
    QRect rect() const override {
        const auto* lamp = static_cast<const Lamp*>(widget());
        const QWidget* panel = lamp->parentWidget();
        if (panel == nullptr || !panel->isVisible()) return {};
        // A hidden widget keeps its geometry: the design rectangle, also while dark.
        return QRect(panel->mapToGlobal(lamp->geometry().topLeft()), lamp->geometry().size());
    }
};

QAccessibleInterface* lampAccessible(const QString&, QObject* object) {
    if (auto* lamp = dynamic_cast<Lamp*>(object)) return new LampAccessible(lamp);
    return nullptr;
}

}  // namespace

LivePanel::LivePanel(QWidget* parent) : QFrame(parent) {
    static const bool kLampsAccessible = [] {
        QAccessible::installFactory(lampAccessible);
        return true;
    }();
    (void)kLampsAccessible;
    setFrameShape(QFrame::NoFrame);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    resize(px(kFrameWidth), px(kFrameHeight));

    QPalette black = palette();
    black.setColor(QPalette::WindowText, Qt::black);
    // Unhinted, so the glyphs land where their outlines say and the fit above holds to the
    // pixel; at this size hinting adds nothing visible.
    QFont head = HeiFont(kPanelPoints, true);
    QFont value = ArialFont(kPanelPoints, true);
    head.setHintingPreference(QFont::PreferNoHinting);
    value.setHintingPreference(QFont::PreferNoHinting);
    for (const LabelSpec& s : kLabelSpecs) {
        auto* label = new PanelLabel(QString::fromUtf8(s.caption), this);
        label->setObjectName(QStringLiteral("Label%1").arg(s.n));
        label->setFont(s.face == Face::Head ? head : value);
        label->setPalette(black);
        label->setGeometry(twipsRect(s.left, s.top, s.width, s.height));
        labels_[static_cast<std::size_t>(s.n)] = label;
    }
    for (int i = 0; i < 6; ++i) {
        auto* lamp = new Lamp(this);
        lamp->setObjectName(QStringLiteral("Shape%1").arg(i + 1));
        lamp->setGeometry(twipsRect(1320, kLampTops[i], 375, 255));  // dark until a reading
        shapes_[static_cast<std::size_t>(i + 1)] = lamp;
    }
    for (int row = 0; row < measure::kPanelRows; ++row) {
        const QString input =
            fromUtf8(measure::InputName(measure::kPanelInputs[static_cast<std::size_t>(row)]));
        shapes_[static_cast<std::size_t>(row + 1)]->setAccessibleName(input + QLatin1Char(' ') +
                                                                      QString::fromUtf8(kLampName));
        showLamp(row + 1, false);
        for (const measure::PanelColumn column : kPanelColumns) {
            labels_[static_cast<std::size_t>(valueLabel(row, column))]->setAccessibleName(
                readerName(row, column));
        }
    }
    for (const LabelSpec& s : kLabelSpecs) {
        QLabel* l = labels_[static_cast<std::size_t>(s.n)];
        // A named label still reads its value out: the reading is its description.
        if (!l->accessibleName().isEmpty()) l->setAccessibleDescription(l->text());
    }
    fitLabels();
}

QLabel* LivePanel::label(int n) const {
    return n >= 0 && n < static_cast<int>(labels_.size()) ? labels_[static_cast<std::size_t>(n)]
                                                          : nullptr;
}

QWidget* LivePanel::shape(int n) const {
    return n >= 1 && n < static_cast<int>(shapes_.size()) ? shapes_[static_cast<std::size_t>(n)]
                                                          : nullptr;
}

QString LivePanel::caption(int n) const {
    const QLabel* l = label(n);
    return l ? l->text() : QString();
}

void LivePanel::ShowReal(const measure::LiveReading& reading) {
    for (int row = 0; row < measure::kPanelRows; ++row) {
        showLamp(row + 1, reading.lamp(measure::kPanelInputs[static_cast<std::size_t>(row)]));
        for (const measure::PanelColumn column : kPanelColumns) {
            setCaption(valueLabel(row, column), fromUtf8(reading.text(row, column)));
        }
    }
}

void LivePanel::setCaption(int n, const QString& text) {
    QLabel* l = labels_[static_cast<std::size_t>(n)];
    if (l->text() == text) return;
    l->setText(text);
    l->setAccessibleDescription(text);
    fitLabel(n);
}

void LivePanel::showLamp(int n, bool lit) {
    QWidget* lamp = shapes_[static_cast<std::size_t>(n)];
    lamp->setVisible(lit);
    lamp->setAccessibleDescription(QString::fromUtf8(lit ? kLampOn : kLampOff));
}

void LivePanel::fitLabel(int n) {
    for (const LabelSpec& s : kLabelSpecs) {
        if (s.n != n) continue;
        auto* l = static_cast<PanelLabel*>(labels_[static_cast<std::size_t>(n)]);
        QRect r = twipsRect(s.left, s.top, s.width, s.height);
        const int grow = l->neededWidth() - r.width();
        if (grow > 0) r.adjust(-(grow / 2), 0, grow - grow / 2, 0);
        l->setGeometry(r);
        return;
    }
}

void LivePanel::fitLabels() {
    for (const LabelSpec& s : kLabelSpecs) fitLabel(s.n);
}

bool LivePanel::event(QEvent* e) {
    // A caption changed from outside ShowReal posts a layout request to its parent.
    if (e->type() == QEvent::LayoutRequest) fitLabels();
    return QFrame::event(e);
}

void LivePanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter p(this);
    const QPalette& pal = palette();
    for (const LineSpec& l : kLines) {
        p.setPen(QPen(inkColour(l.ink, pal), l.width, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(twipsPoint(l.x1, l.y1), twipsPoint(l.x2, l.y2));
    }
}

}  // namespace ck::views
