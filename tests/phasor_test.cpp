// SPDX-License-Identifier: MIT
// The phasor diagram's geometry from readings: where each phasor points, how long it is, which
// are drawn as missing, the cross-pair arcs and the verdicts beside them.

#include <gtest/gtest.h>

#include "measure/phasors.h"
#include "sim/connection.h"

namespace ck::measure {
namespace {

MeasurementGroup reading(std::array<int16_t, 6> angles,
                         std::array<uint8_t, 6> kv = {10, 10, 10, 10, 10, 10}) {
    MeasurementGroup g;
    g.pairAngles = angles;
    g.voltages = kv;
    return g;
}

std::array<int, 6> anglesOf(const PhasorDiagram& d) {
    std::array<int, 6> out{};
    for (std::size_t i = 0; i < 6; ++i) out[i] = d.phasors[i].angleDeg;
    return out;
}

TEST(PhasorGeometry, SecondGroupPlacedFromTheSameLetterPairs) {
    struct Case {
        const char* name;
        std::array<int16_t, 6> angles;  // A1A2 B1B2 C1C2 A1B2 B1C2 C1A2
        std::array<int, 6> want;        // A1 B1 C1 A2 B2 C2
        std::array<const char*, 6> verdicts;
    };
    const Case cases[] = {
        {"on the same phases",
         {0, 0, 0, 120, 120, 120},
         {0, -120, 120, 0, -120, 120},
         {"同相", "同相", "同相", "顺相序", "顺相序", "顺相序"}},
        {"a few degrees either way",
         {2, 358, 1, 122, 118, 120},
         {0, -120, 120, -2, -118, 119},
         {"同相", "同相", "同相", "顺相序", "顺相序", "顺相序"}},
        // The second group 30 degrees behind: each of its phasors 30 degrees clockwise.
        {"lagging 30 degrees",
         {30, 30, 30, 150, 150, 150},
         {0, -120, 120, -30, -150, 90},
         {"------", "------", "------", "------", "------", "------"}},
        // B and C exchanged on the second group.
        {"B and C crossed",
         {0, 120, 240, 240, 0, 120},
         {0, -120, 120, 0, 120, -120},
         {"同相", "异相", "异相", "逆相序", "------", "顺相序"}},
        {"reversed",
         {180, 180, 180, 300, 300, 300},
         {0, -120, 120, 180, 60, -60},
         {"------", "------", "------", "------", "------", "------"}},
    };
    for (const Case& c : cases) {
        const PhasorDiagram d = PhasorGeometry(reading(c.angles));
        EXPECT_EQ(anglesOf(d), c.want) << c.name;
        for (std::size_t k = 0; k < 6; ++k) {
            EXPECT_EQ(d.verdicts[k].verdict, c.verdicts[k]) << c.name << " pair " << k;
            EXPECT_EQ(d.verdicts[k].name, PairName(static_cast<Pair>(k)));
        }
        for (const Phasor& p : d.phasors) EXPECT_FALSE(p.missing()) << c.name << " " << p.name;
    }
}

TEST(PhasorGeometry, CrossArcsEndOnTheSecondGroupPhasorForEveryConnection) {
    // The simulator derives all six angles from one physical connection; the arcs drawn from the
    // cross angles must then end exactly where the same-letter angles put the phasors.
    for (const bool crossed : {false, true}) {
        for (int offset = 0; offset < 360; ++offset) {
            sim::Connection c;
            c.crossed = crossed;
            c.offset = offset;
            const PhasorDiagram d = PhasorGeometry(sim::ConnectionReading(c));
            for (const CrossArc& a : d.arcs) {
                ASSERT_TRUE(a.valid);
                EXPECT_EQ(a.startDeg, d.phasors[idx(a.from)].angleDeg);
                EXPECT_LE(a.sweepDeg, 0);  // clockwise: the way the second input lags
                EXPECT_GT(a.sweepDeg, -360);
                EXPECT_EQ(NormalizeAngle(a.startDeg + a.sweepDeg), d.phasors[idx(a.to)].angleDeg)
                    << PairName(a.pair) << " crossed " << crossed << " offset " << offset;
            }
        }
    }
}

TEST(PhasorGeometry, CrossArcsByPair) {
    const PhasorDiagram d = PhasorGeometry(reading({0, 120, 240, 240, 360, 1000}));
    struct Want {
        Pair pair;
        Input from, to;
        int start, sweep;
        bool valid;
        const char* text;
        const char* verdict;
        Tone tone;
    };
    const Want want[] = {
        {Pair::A1B2, Input::A1, Input::B2, 0, -240, true, "240", "逆相序", Tone::Bad},
        {Pair::B1C2, Input::B1, Input::C2, -120, 0, false, "------", "------", Tone::None},
        {Pair::C1A2, Input::C1, Input::A2, 120, 0, false, "1000", "------", Tone::None},
    };
    for (std::size_t k = 0; k < 3; ++k) {
        const CrossArc& a = d.arcs[k];
        EXPECT_EQ(a.pair, want[k].pair);
        EXPECT_EQ(a.from, want[k].from);
        EXPECT_EQ(a.to, want[k].to);
        EXPECT_EQ(a.startDeg, want[k].start);
        EXPECT_EQ(a.sweepDeg, want[k].sweep);
        EXPECT_EQ(a.valid, want[k].valid);
        EXPECT_EQ(a.angleText, want[k].text);
        EXPECT_EQ(a.verdict, want[k].verdict);
        EXPECT_EQ(a.tone, want[k].tone);
    }
}

TEST(PhasorGeometry, LengthsFollowTheVoltagesAndMissingReadingsAreMarked) {
    // A1 B1 C1 A2 B2 C2.
    const PhasorDiagram d =
        PhasorGeometry(reading({360, 2, 1000, 120, 120, 120}, {10, 35, 0, 35, 0, 7}));
    struct Want {
        Input in;
        double length;
        int angle;
        bool noVoltage, noAngle;
        const char* description;
        const char* note;
    };
    const Want want[] = {
        {Input::A1, 10.0 / 35, 0, false, false, "A1：参考相角 0°，电压 10 kV", ""},
        {Input::B1, 1.0, -120, false, false, "B1：参考相角 -120°，电压 35 kV", ""},
        {Input::C1, 1.0, 120, true, false, "C1：参考相角 120°，无电压读数", "C1 无电压读数"},
        // No angle: at its letter's place, whatever its voltage.
        {Input::A2, 1.0, 0, false, true, "A2：无相位读数，电压 35 kV",
         "A2 无相位读数，画在参考位置"},
        {Input::B2, 1.0, -122, true, false, "B2：相角 -122°（B1B2 2°），无电压读数",
         "B2 无电压读数"},
        {Input::C2, 7.0 / 35, 120, false, true, "C2：相位读数无效（1000），电压 7 kV",
         "C2 相位读数无效，画在参考位置"},
    };
    for (const Want& w : want) {
        const Phasor& p = d.phasors[idx(w.in)];
        EXPECT_EQ(p.input, w.in);
        EXPECT_EQ(p.name, InputName(w.in));
        EXPECT_DOUBLE_EQ(p.length, w.length) << p.name;
        EXPECT_EQ(p.angleDeg, w.angle) << p.name;
        EXPECT_EQ(p.noVoltage, w.noVoltage) << p.name;
        EXPECT_EQ(p.noAngle, w.noAngle) << p.name;
        EXPECT_EQ(p.missing(), w.noVoltage || w.noAngle) << p.name;
        EXPECT_EQ(p.description(), w.description);
        EXPECT_EQ(p.note(), w.note);
    }
}

TEST(PhasorGeometry, AnInputWithNothingAtAll) {
    const PhasorDiagram d =
        PhasorGeometry(reading({1, 359, 360, 121, 360, 120}, {10, 10, 10, 10, 10, 0}));
    const Phasor& c2 = d.phasors[idx(Input::C2)];
    EXPECT_TRUE(c2.noVoltage && c2.noAngle);
    EXPECT_EQ(c2.angleDeg, 120);
    EXPECT_EQ(c2.note(), "C2 无电压读数、无相位读数，画在参考位置");
    EXPECT_EQ(c2.description(), "C2：无相位读数，无电压读数");
    // A reading without any voltage draws every phasor at full length rather than dividing by 0.
    const PhasorDiagram none = PhasorGeometry(reading({360, 360, 360, 360, 360, 360}, {}));
    for (const Phasor& p : none.phasors) {
        EXPECT_TRUE(p.missing());
        EXPECT_EQ(p.length, 1.0);
        EXPECT_EQ(p.angleDeg, ReferenceAngle(p.input));
    }
}

TEST(PhasorGeometry, TonesOfTheVerdicts) {
    const PhasorDiagram d = PhasorGeometry(reading({0, 120, 240, 240, 0, 120}));
    const Tone want[] = {Tone::Good, Tone::Bad, Tone::Bad, Tone::Bad, Tone::None, Tone::Good};
    for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(d.verdicts[k].tone, want[k]) << k;
}

TEST(NormalizeAngle, IntoHalfOpenTurnAroundZero) {
    const std::pair<int, int> cases[] = {{0, 0},       {180, 180}, {181, -179}, {-180, 180},
                                         {-181, 179},  {360, 0},   {-360, 0},   {540, 180},
                                         {-479, -119}, {359, -1}};
    for (const auto& [in, want] : cases) EXPECT_EQ(NormalizeAngle(in), want) << in;
}

}  // namespace
}  // namespace ck::measure
