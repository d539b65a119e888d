// SPDX-License-Identifier: MIT
// The phasor window under the offscreen platform: the texts beside the diagram, what screen
// readers get, and the diagram drawn where its geometry says at any size and screen scale.

#include <gtest/gtest.h>

#include "qt_environment.h"

#include <QApplication>
#include <QImage>
#include <QLabel>

#include <cmath>
#include <numbers>

#include "measure/phasors.h"
#include "views/phasor_window.h"

namespace ck::views {
namespace {

using measure::Input;
using measure::Pair;

[[maybe_unused]] auto* const kQtEnvironment =
    ck::testing::AddQtEnvironment<QApplication>("phasor_window_test");

measure::MeasurementGroup reading(std::array<int16_t, 6> angles, std::array<uint8_t, 6> kv) {
    measure::MeasurementGroup g;
    g.pairAngles = angles;
    g.voltages = kv;
    return g;
}

TEST(PhasorWindow, BeforeAnyReading) {
    PhasorWindow w;
    EXPECT_EQ(w.windowTitle(), "相量图");
    EXPECT_TRUE(w.isWindow());
    EXPECT_FALSE(w.testAttribute(Qt::WA_QuitOnClose));  // never keeps the program running
    EXPECT_FALSE(w.diagram().diagram());
    EXPECT_EQ(w.diagram().accessibleDescription(), "尚无实时读数");
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(w.angleLabel(static_cast<Pair>(k)).text(), "------");
        EXPECT_EQ(w.verdictLabel(static_cast<Pair>(k)).text(), "------");
    }
    EXPECT_EQ(w.phasorLabel(Input::B2).text(), "B2：尚无读数");
}

TEST(PhasorWindow, VerdictsInThePanelsWordsColouredByTone) {
    PhasorWindow w;
    // B and C crossed on the second group, B2 dead.
    w.showReading(reading({0, 120, 240, 240, 0, 120}, {10, 10, 10, 11, 0, 11}));
    struct Want {
        Pair pair;
        const char* angle;
        const char* verdict;
        measure::Tone tone;
        const char* toneName;
    };
    const Want want[] = {
        {Pair::A1A2, "000", "同相", measure::Tone::Good, "good"},
        {Pair::B1B2, "120", "异相", measure::Tone::Bad, "bad"},
        {Pair::C1C2, "240", "异相", measure::Tone::Bad, "bad"},
        {Pair::A1B2, "240", "逆相序", measure::Tone::Bad, "bad"},
        {Pair::B1C2, "000", "------", measure::Tone::None, "none"},
        {Pair::C1A2, "120", "顺相序", measure::Tone::Good, "good"},
    };
    for (const Want& x : want) {
        const QLabel& v = w.verdictLabel(x.pair);
        EXPECT_EQ(w.angleLabel(x.pair).text(), x.angle);
        EXPECT_EQ(v.text(), x.verdict);
        EXPECT_EQ(v.property("tone").toString(), x.toneName);
        EXPECT_TRUE(v.styleSheet().contains(ToneColour(x.tone).name())) << x.verdict;
        EXPECT_EQ(v.accessibleDescription(), x.verdict);
    }
    // Green, red and grey, far enough apart to tell.
    EXPECT_GT(ToneColour(measure::Tone::Good).green(), ToneColour(measure::Tone::Good).red() + 60);
    EXPECT_GT(ToneColour(measure::Tone::Bad).red(), ToneColour(measure::Tone::Bad).green() + 60);
    const QColor grey = ToneColour(measure::Tone::None);
    EXPECT_EQ(grey.red(), grey.green());
    EXPECT_EQ(w.notes().text(), "B2 无电压读数");
}

TEST(PhasorWindow, EachPhasorReadsAsTextToScreenReaders) {
    PhasorWindow w;
    w.showReading(reading({2, 358, 360, 122, 118, 120}, {10, 10, 10, 35, 35, 35}));
    const std::pair<Input, const char*> want[] = {
        {Input::A1, "A1：参考相角 0°，电压 10 kV"},
        {Input::A2, "A2：相角 -2°（A1A2 2°），电压 35 kV"},
        {Input::B2, "B2：相角 -118°（B1B2 358°），电压 35 kV"},
        {Input::C2, "C2：无相位读数，电压 35 kV"},
    };
    for (const auto& [in, text] : want) {
        const QLabel& l = w.phasorLabel(in);
        EXPECT_EQ(l.text(), text);
        EXPECT_EQ(l.accessibleName(), QString::fromUtf8(measure::InputName(in).data(), 2));
        EXPECT_EQ(l.accessibleDescription(), text);
        EXPECT_TRUE(w.diagram().accessibleDescription().contains(QString::fromUtf8(text)));
    }
    EXPECT_EQ(w.verdictLabel(Pair::C1C2).accessibleName(), "C1C2 定性相位");
    EXPECT_EQ(w.verdictLabel(Pair::A1B2).accessibleName(), "A1B2 定性相序");
    EXPECT_EQ(w.notes().text(), "C2 无相位读数，画在参考位置");
}

// The angle (counter-clockwise, degrees) and the share of the radius at which a point lies.
std::pair<double, double> polarOf(const PhasorDiagramView& d, QPointF p) {
    const QPointF v = p - d.centre();
    const double deg = std::atan2(-v.y(), v.x()) * 180.0 / std::numbers::pi;
    return {deg, std::hypot(v.x(), v.y()) / d.radius()};
}

TEST(PhasorDiagram, TipsWhereTheGeometrySaysAtAnySize) {
    PhasorDiagramView d;
    d.setReading(reading({30, 30, 30, 150, 150, 150}, {10, 10, 10, 5, 5, 5}));
    const double wantAngle[] = {0, -120, 120, -30, -150, 90};
    const double wantLength[] = {1, 1, 1, 0.5, 0.5, 0.5};
    const QSize sizes[] = {{300, 300}, {900, 500}, {400, 1200}};
    for (const QSize& size : sizes) {
        d.resize(size);
        // The circle fits the shorter side, centred.
        EXPECT_DOUBLE_EQ(d.radius(), std::min(size.width(), size.height()) * (0.5 - 0.13));
        EXPECT_EQ(d.centre(), QRectF(0, 0, size.width(), size.height()).center());
        for (std::size_t i = 0; i < 6; ++i) {
            const auto [deg, share] = polarOf(d, d.tipOf(static_cast<Input>(i)));
            EXPECT_NEAR(deg, wantAngle[i], 1e-9) << i << " at " << size.width();
            EXPECT_NEAR(share, wantLength[i], 1e-9) << i << " at " << size.width();
        }
    }
}

TEST(PhasorDiagram, PaintsInLogicalPixelsAtAnyScreenScale) {
    // A2 alone at -30 degrees, half length: at 2x the same logical point carries its colour.
    PhasorDiagramView d;
    d.setReading(reading({30, 30, 30, 150, 150, 150}, {10, 10, 10, 5, 5, 5}));
    d.resize(400, 400);
    const QPointF probe = d.centre() + (d.tipOf(Input::A2) - d.centre()) * 0.6;
    for (const qreal scale : {1.0, 2.0, 1.5}) {
        QImage image((QSizeF(d.size()) * scale).toSize(), QImage::Format_ARGB32);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::white);
        d.render(&image);
        const QColor c = image.pixelColor((probe * scale).toPoint());
        EXPECT_GT(c.blue(), c.red() + 60) << "scale " << scale;
    }
}

TEST(PhasorWindow, ClosingOnlyHidesItAndItKeepsFollowing) {
    PhasorWindow w;
    w.show();
    ASSERT_TRUE(w.isVisible());
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(w.isVisible());
    w.showReading(reading({0, 0, 0, 120, 120, 120}, {10, 10, 10, 10, 10, 10}));
    w.show();
    EXPECT_EQ(w.verdictLabel(Pair::A1B2).text(), "顺相序");
}

}  // namespace
}  // namespace ck::views
