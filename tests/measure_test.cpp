// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "measure/history_table.h"
#include "measure/live_reading.h"
#include "measure/measurement.h"

namespace ck::measure {
namespace {

std::array<uint8_t, 24> groupBytes(std::array<uint8_t, 12> angles, std::array<uint8_t, 6> ind,
                                   std::array<uint8_t, 6> volts) {
    std::array<uint8_t, 24> g{};
    std::copy(angles.begin(), angles.end(), g.begin());
    std::copy(ind.begin(), ind.end(), g.begin() + 12);
    std::copy(volts.begin(), volts.end(), g.begin() + 18);
    return g;
}

TEST(DecodeGroup, AnglesAreBigEndianWordsInPairOrder) {
    const auto g = groupBytes(
        {0x01, 0x68, 0x00, 0x00, 0x01, 0x67, 0x03, 0xE8, 0x7F, 0xFF, 0x00, 0x05}, {}, {});
    const auto m = DecodeGroup(g, 0, Source::Live);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->pairAngles, (std::array<int16_t, 6>{360, 0, 359, 1000, 32767, 5}));
}

TEST(DecodeGroup, AnyAngleHighByteFrom0x80FailsTheWholeGroup) {
    for (std::size_t k = 0; k < 6; ++k) {
        for (uint8_t hi : {uint8_t{0x80}, uint8_t{0xFF}}) {
            std::array<uint8_t, 24> g{};
            g[2 * k] = hi;
            EXPECT_FALSE(DecodeGroup(g, 0, Source::Live)) << "pair " << k;
            EXPECT_FALSE(DecodeGroup(g, 0, Source::Stored)) << "pair " << k;
        }
    }
}

TEST(DecodeGroup, VoltageOrderDependsOnSource) {
    const auto g = groupBytes({}, {}, {10, 0, 35, 11, 0, 36});
    const auto live = DecodeGroup(g, 0, Source::Live);
    const auto stored = DecodeGroup(g, 0, Source::Stored);
    ASSERT_TRUE(live && stored);
    using enum Input;
    // Live: A1 B1 C1 A2 B2 C2.
    EXPECT_EQ(live->voltages[idx(A1)], 10);
    EXPECT_EQ(live->voltages[idx(B1)], 0);
    EXPECT_EQ(live->voltages[idx(C1)], 35);
    EXPECT_EQ(live->voltages[idx(A2)], 11);
    EXPECT_EQ(live->voltages[idx(B2)], 0);
    EXPECT_EQ(live->voltages[idx(C2)], 36);
    // Stored: A1 A2 B1 B2 C1 C2.
    EXPECT_EQ(stored->voltages[idx(A1)], 10);
    EXPECT_EQ(stored->voltages[idx(A2)], 0);
    EXPECT_EQ(stored->voltages[idx(B1)], 35);
    EXPECT_EQ(stored->voltages[idx(B2)], 11);
    EXPECT_EQ(stored->voltages[idx(C1)], 0);
    EXPECT_EQ(stored->voltages[idx(C2)], 36);
}

TEST(DecodeGroup, IndicatorsAreOnForAnyNonZeroByte) {
    const auto g = groupBytes({}, {0x01, 0x00, 0xFF, 0x00, 0x80, 0x00}, {});
    const auto m = DecodeGroup(g, 0, Source::Live);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->indicators, (std::array<bool, 6>{true, false, true, false, true, false}));
}

TEST(DecodeGroup, ReadsAtOffsetAndNeverOutsideTheBuffer) {
    std::vector<uint8_t> buf(5 + 24, 0);
    buf[5 + 18] = 42;
    const auto m = DecodeGroup(buf, 5, Source::Live);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->voltages[idx(Input::A1)], 42);
    EXPECT_FALSE(DecodeGroup(buf, 6, Source::Live));
    EXPECT_FALSE(DecodeGroup(buf, 1000, Source::Live));
    EXPECT_FALSE(DecodeGroup({}, 0, Source::Stored));
}

TEST(EncodeGroup, RoundTripsThroughDecode) {
    MeasurementGroup m;
    m.pairAngles = {5, 120, 240, 180, 360, 32767};
    m.indicators = {true, false, false, true, false, true};
    m.voltages = {10, 0, 35, 11, 0, 255};
    for (Source s : {Source::Live, Source::Stored}) {
        const auto bytes = EncodeGroup(m, s);
        EXPECT_EQ(DecodeGroup(bytes, 0, s), m);
    }
}

TEST(Format, Texts) {
    struct Case {
        std::string got, want;
    };
    const Case cases[] = {
        {FormatLiveVoltage(0), "-- kV"},
        {FormatLiveVoltage(10), "10 kV"},
        {FormatLiveVoltage(255), "255 kV"},
        {FormatLiveVoltage(1), "1 kV"},
        {FormatStoredVoltage(0), "--kV"},
        {FormatStoredVoltage(35), "35 kV"},
        {FormatStoredVoltage(255), "255 kV"},
        {FormatAngle(360), "------"},
        {FormatAngle(0), "000"},
        {FormatAngle(7), "007"},
        {FormatAngle(45), "045"},
        {FormatAngle(359), "359"},
        {FormatAngle(1000), "1000"},
        {FormatAngle(32767), "32767"},
        {FormatGroupNumber(1), " 1"},
        {FormatGroupNumber(7), " 7"},
        {FormatGroupNumber(200), " 200"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Classify, PhaseBands) {
    const std::pair<float, std::string_view> cases[] = {
        {0, "同相"},      {19, "同相"},      {20, "------"},      {99, "------"}, {100, "异相"},
        {139, "异相"},    {140, "------"},   {219, "------"},     {220, "异相"},  {259, "异相"},
        {260, "------"},  {339, "------"},   {340, "同相"},       {359, "同相"},  {360, "------"},
        {1000, "------"}, {19.999f, "同相"}, {339.99f, "------"},
    };
    for (const auto& [angle, want] : cases) EXPECT_EQ(ClassifyPhase(angle), want) << angle;
}

TEST(Classify, SequenceBands) {
    const std::pair<float, std::string_view> cases[] = {
        {0, "------"},   {99, "------"},  {100, "顺相序"}, {139, "顺相序"},
        {140, "------"}, {219, "------"}, {220, "逆相序"}, {259, "逆相序"},
        {260, "------"}, {359, "------"}, {360, "------"}, {32767, "------"},
    };
    for (const auto& [angle, want] : cases) EXPECT_EQ(ClassifySequence(angle), want) << angle;
}

// Each pair's angle feeds the verdict of its kind; each verdict has one text and one tone.
TEST(Classify, PairsVerdictsTextsAndTones) {
    struct Case {
        Pair pair;
        int16_t angle;
        Verdict verdict;
        std::string_view text;
        Tone tone;
    };
    const Case cases[] = {
        {Pair::A1A2, 5, Verdict::InPhase, "同相", Tone::Good},
        {Pair::B1B2, 120, Verdict::OutOfPhase, "异相", Tone::Bad},
        {Pair::C1C2, NoAngle, Verdict::None, "------", Tone::None},
        {Pair::A1B2, 120, Verdict::Positive, "顺相序", Tone::Good},
        {Pair::B1C2, 240, Verdict::Negative, "逆相序", Tone::Bad},
        {Pair::C1A2, 5, Verdict::None, "------", Tone::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VerdictOf(c.pair, c.angle), c.verdict) << PairName(c.pair);
        EXPECT_EQ(VerdictText(c.verdict), c.text) << PairName(c.pair);
        EXPECT_EQ(ToneOf(c.verdict), c.tone) << PairName(c.pair);
    }
    // Pairs are named first-group input first, and a kind goes with the letters.
    for (const PairFacts& f : kPairFacts) {
        EXPECT_EQ(f.name, std::string(InputName(f.first)) + std::string(InputName(f.second)));
        EXPECT_EQ(f.kind == PairKind::Phase, f.name[0] == f.name[2]) << f.name;
    }
}

TEST(Classify, NoAngleGivesNoVerdictAnywhere) {
    EXPECT_EQ(FormatAngle(NoAngle), "------");
    EXPECT_EQ(ClassifyPhase(NoAngle), "------");
    EXPECT_EQ(ClassifySequence(NoAngle), "------");
}

// The rows a fill reports are exactly the rows it wrote (the grid redraws those alone), each
// holding its group; rows past the table or below 1 are neither written nor reported.
TEST(HistoryTable, FillReportsTheRowsItWrote) {
    struct Case {
        int first;
        std::size_t groups;
        RowSpan written;
    };
    const Case cases[] = {
        {0, 3, {1, 3}},  {197, 3, {198, 3}}, {199, 3, {200, 1}}, {200, 3, {}},
        {-2, 3, {1, 1}}, {0, 0, {}},         {-5, 3, {}},
    };
    std::vector<MeasurementGroup> groups(3);
    for (std::size_t i = 0; i < groups.size(); ++i) groups[i].voltages[0] = uint8_t(10 + i);
    for (const Case& c : cases) {
        HistoryTable t;
        const RowSpan span = t.fill(c.first, std::span(groups).first(c.groups));
        EXPECT_EQ(span, c.written) << c.first << "+" << c.groups;
        for (int row = 1; row <= kHistoryRows; ++row) {
            const bool in = row >= span.first && row < span.first + span.count;
            ASSERT_EQ(t.group(row) != nullptr, in) << row;
            if (!in) continue;
            EXPECT_EQ(*t.group(row), groups[static_cast<std::size_t>(row - 1 - c.first)]);
            EXPECT_EQ(t.cell(row, 0), FormatGroupNumber(row));
        }
        t.clear();
        EXPECT_EQ(t.fill(0, {}), RowSpan{});
        for (int row = 1; row <= kHistoryRows; ++row) EXPECT_EQ(t.group(row), nullptr);
        EXPECT_EQ(t.cell(0, 18), "C1A2定性相序");
    }
}

// Before any reading the panel reads as a reading of nothing does, and has no time.
TEST(LiveReading, BeforeAnyReadingIsAReadingOfNothing) {
    MeasurementGroup nothing;
    nothing.pairAngles.fill(NoAngle);
    const LiveReading before;
    const LiveReading none(nothing, {}, 3);
    EXPECT_FALSE(before.time());
    EXPECT_TRUE(none.time());
    for (int row = 0; row < kPanelRows; ++row) {
        for (PanelColumn c : {PanelColumn::Voltage, PanelColumn::Phase, PanelColumn::Sequence}) {
            EXPECT_EQ(before.text(row, c), none.text(row, c));
            EXPECT_EQ(before.text(row, c), c == PanelColumn::Voltage ? "-- kV" : "------");
        }
    }
}

}  // namespace
}  // namespace ck::measure
