// SPDX-License-Identifier: MIT
#pragma once
// The live panel, Frame_realtime: six input rows with their lamps and voltages, the three
// angle/verdict pairs of each column, the column heads and the ruling lines. ShowReal draws
// the live reading the window holds.

#include <QFrame>

#include <array>

#include "measure/live_reading.h"

class QLabel;

namespace ck::views {

class LivePanel final : public QFrame {
    Q_OBJECT
public:
    explicit LivePanel(QWidget* parent = nullptr);

    // Rewrites the eighteen value labels and the six lamps from the reading. The value labels
    // are named for screen readers after their row and column ("A1 电压", "A1A2 相位",
    // "A1A2 定性相位", "A1B2 定性相序"), with the reading as their description.
    void ShowReal(const measure::LiveReading& reading);

    // Label1..Label6, Label11..Label16, Label21..Label26, Label31..Label39 by number;
    // nullptr for any other number.
    QLabel* label(int n) const;
    // Shape1..Shape6 by number; nullptr otherwise. A lamp is shown while lit; screen readers
    // find it, lit or dark, as "A1 指示灯" with "亮" or "灭".
    QWidget* shape(int n) const;
    // Caption of label n, empty for a number that names no label.
    QString caption(int n) const;

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setCaption(int n, const QString& text);
    // Shows or hides lamp n, and tells a screen reader which.
    void showLamp(int n, bool lit);
    // Keeps label n on its design rectangle, widened about its centre when the caption needs it.
    void fitLabel(int n);
    void fitLabels();

    std::array<QLabel*, 40> labels_{};
    std::array<QWidget*, 7> shapes_{};
};

}  // namespace ck::views
