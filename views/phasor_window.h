// SPDX-License-Identifier: MIT
#pragma once
// The phasor window: the live reading drawn as the two probe groups' phasors on one circle,
// with the pairs' angles and verdicts beside it. A window of its own that follows every live
// reading; closing it only hides it.

#include <QWidget>

#include <array>
#include <optional>

#include "measure/measurement.h"
#include "measure/phasors.h"

class QLabel;
class QPainter;

namespace ck::views {

// Colours of the verdict tones: green for 同相 / 顺相序, red for 异相 / 逆相序, grey for none.
QColor ToneColour(measure::Tone tone);

// Where the diagram's circle sits in `area`: centred, its radius a share of the shorter side
// that leaves room around it for the phasor names.
QPointF DiagramCentre(const QRectF& area);
double DiagramRadius(const QRectF& area);

// Paints the phasor diagram of a reading into `area` on any painter (a widget, a PDF page, a
// printer), in the painter's units, sized from the area alone. Text is never smaller than
// `minTextPixels` in those units. Without a diagram it says that there is no reading yet.
void PaintPhasorDiagram(QPainter& p, const QRectF& area, const measure::PhasorDiagram* diagram,
                        double minTextPixels = 10);

class PhasorDiagramView final : public QWidget {
    Q_OBJECT
public:
    explicit PhasorDiagramView(QWidget* parent = nullptr);

    void setReading(const measure::MeasurementGroup& g);
    const std::optional<measure::PhasorDiagram>& diagram() const { return diagram_; }

    // Where the diagram sits in the widget now, in logical pixels.
    QPointF centre() const;
    double radius() const;
    // The tip of a phasor as painted.
    QPointF tipOf(measure::Input in) const;

    QSize sizeHint() const override { return {460, 460}; }
    QSize minimumSizeHint() const override { return {220, 220}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<measure::PhasorDiagram> diagram_;
};

class PhasorWindow final : public QWidget {
    Q_OBJECT
public:
    explicit PhasorWindow(QWidget* parent = nullptr);

    // Shows the reading in the diagram and the texts beside it.
    void showReading(const measure::MeasurementGroup& g);

    PhasorDiagramView& diagram() { return *diagram_; }
    // One line per phasor: its description as text, its name as the accessible name.
    QLabel& phasorLabel(measure::Input in) const { return *phasorLabels_[measure::idx(in)]; }
    QLabel& angleLabel(measure::Pair p) const { return *angleLabels_[measure::idx(p)]; }
    QLabel& verdictLabel(measure::Pair p) const { return *verdictLabels_[measure::idx(p)]; }
    QLabel& notes() const { return *notes_; }

private:
    PhasorDiagramView* diagram_ = nullptr;
    std::array<QLabel*, 6> phasorLabels_{};
    std::array<QLabel*, 6> angleLabels_{};
    std::array<QLabel*, 6> verdictLabels_{};
    QLabel* notes_ = nullptr;
};

}  // namespace ck::views
