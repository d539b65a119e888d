// SPDX-License-Identifier: MIT
// The phasing conclusion: every combination of the same-letter verdicts, the pairs it names,
// and the cross pairs' sequence beside it, never deciding it.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "measure/conclusion.h"

namespace ck::measure {
namespace {

constexpr Verdict kIn = Verdict::InPhase;
constexpr Verdict kOut = Verdict::OutOfPhase;
constexpr Verdict kNone = Verdict::None;
constexpr Verdict kPos = Verdict::Positive;
constexpr Verdict kNeg = Verdict::Negative;

using Verdicts = std::array<Verdict, 3>;

TEST(Conclusion, NamesThePairsBehindEachFinding) {
    struct Case {
        Verdicts phase;
        Finding finding;
        std::vector<Pair> outOfPhase, unjudged;
        const char* text;
        const char* detail;
    };
    const Case cases[] = {
        {{kIn, kIn, kIn}, Finding::InPhase, {}, {}, "相位一致", "A1A2、B1B2、C1C2 均同相"},
        // B and C crossed on the second group.
        {{kIn, kOut, kOut},
         Finding::OutOfPhase,
         {Pair::B1B2, Pair::C1C2},
         {},
         "相位不一致",
         "B1B2、C1C2 异相"},
        {{kNone, kIn, kIn},
         Finding::Undetermined,
         {},
         {Pair::A1A2},
         "无法判定",
         "A1A2 无定性结果（------）"},
        // A pair out of phase decides, and the one without a verdict is still named.
        {{kOut, kNone, kIn},
         Finding::OutOfPhase,
         {Pair::A1A2},
         {Pair::B1B2},
         "相位不一致",
         "A1A2 异相；B1B2 无定性结果（------）"},
        {{kNone, kNone, kNone},
         Finding::Undetermined,
         {},
         {Pair::A1A2, Pair::B1B2, Pair::C1C2},
         "无法判定",
         "A1A2、B1B2、C1C2 无定性结果（------）"},
        // A sequence verdict on a same-letter pair never passes for 同相.
        {{kIn, kPos, kNeg},
         Finding::Undetermined,
         {},
         {Pair::B1B2, Pair::C1C2},
         "无法判定",
         "B1B2、C1C2 无定性结果（------）"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(VerdictText(c.phase[0])) + "," +
                     std::string(VerdictText(c.phase[1])) + "," +
                     std::string(VerdictText(c.phase[2])));
        const PhasingConclusion got = Conclude(c.phase, {kNone, kNone, kNone});
        EXPECT_EQ(got.finding, c.finding);
        EXPECT_EQ(got.outOfPhase, c.outOfPhase);
        EXPECT_EQ(got.unjudged, c.unjudged);
        EXPECT_EQ(FindingText(got.finding), c.text);
        EXPECT_EQ(ConclusionDetail(got), c.detail);
    }
}

// All 27 combinations of the same-letter verdicts against all 27 of the sequence verdicts.
TEST(Conclusion, EveryCombinationAndTheSequenceNeverDecides) {
    const Verdict phaseWords[] = {kIn, kOut, kNone};
    const Verdict sequenceWords[] = {kPos, kNeg, kNone};
    for (int p = 0; p < 27; ++p) {
        const Verdicts phase = {phaseWords[p % 3], phaseWords[p / 3 % 3], phaseWords[p / 9]};
        const PhasingConclusion alone = Conclude(phase, {kNone, kNone, kNone});
        const bool allIn = phase[0] == kIn && phase[1] == kIn && phase[2] == kIn;
        EXPECT_EQ(alone.finding == Finding::InPhase, allIn) << p;
        // Every pair that is not 同相 is named, once, under what it showed.
        EXPECT_EQ(alone.outOfPhase.size() + alone.unjudged.size(),
                  static_cast<std::size_t>(3 - std::count(phase.begin(), phase.end(), kIn)))
            << p;
        for (const Pair pair : alone.outOfPhase) EXPECT_EQ(phase[idx(pair)], kOut) << p;
        for (const Pair pair : alone.unjudged) EXPECT_EQ(phase[idx(pair)], kNone) << p;
        for (int s = 0; s < 27; ++s) {
            const Verdicts sequence = {sequenceWords[s % 3], sequenceWords[s / 3 % 3],
                                       sequenceWords[s / 9]};
            const PhasingConclusion c = Conclude(phase, sequence);
            EXPECT_EQ(c.finding, alone.finding) << p << " " << s;
            EXPECT_EQ(ConclusionDetail(c), ConclusionDetail(alone)) << p << " " << s;
            EXPECT_EQ(c.sequence, sequence) << p << " " << s;
        }
    }
}

TEST(Conclusion, FromAReadingAsThePanelClassifiesIt) {
    struct Case {
        std::array<int16_t, 6> angles;
        Finding finding;
        Verdicts sequence;
    };
    const Case cases[] = {
        {{0, 19, 359, 120, 120, 120}, Finding::InPhase, {kPos, kPos, kPos}},
        {{340, 3, 20, 120, 121, 119}, Finding::Undetermined, {kPos, kPos, kPos}},
        {{2, 120, 240, 240, 0, 120}, Finding::OutOfPhase, {kNeg, kNone, kPos}},
        {{360, 0, 0, 360, 120, 120}, Finding::Undetermined, {kNone, kPos, kPos}},
        {{0, 0, 1000, 120, 120, 259}, Finding::Undetermined, {kPos, kPos, kNeg}},
    };
    for (const Case& c : cases) {
        MeasurementGroup g;
        g.pairAngles = c.angles;
        const PhasingConclusion got = Conclude(g);
        EXPECT_EQ(got.finding, c.finding) << c.angles[0] << " " << c.angles[1];
        EXPECT_EQ(got.sequence, c.sequence) << c.angles[0] << " " << c.angles[1];
    }
}

}  // namespace
}  // namespace ck::measure
