// SPDX-License-Identifier: MIT
#include "measure/conclusion.h"

namespace ck::measure {
namespace {

constexpr std::array<Pair, 3> kSameLetter = {Pair::A1A2, Pair::B1B2, Pair::C1C2};
constexpr std::array<Pair, 3> kCross = {Pair::A1B2, Pair::B1C2, Pair::C1A2};

std::string names(const std::vector<Pair>& pairs) {
    std::string s;
    for (const Pair p : pairs) {
        if (!s.empty()) s += "、";
        s += PairName(p);
    }
    return s;
}

}  // namespace

PhasingConclusion Conclude(const std::array<Verdict, 3>& phase,
                           const std::array<Verdict, 3>& sequence) {
    PhasingConclusion c;
    c.sequence = sequence;
    for (std::size_t k = 0; k < kSameLetter.size(); ++k) {
        if (phase[k] == Verdict::OutOfPhase) {
            c.outOfPhase.push_back(kSameLetter[k]);
        } else if (phase[k] != Verdict::InPhase) {
            c.unjudged.push_back(kSameLetter[k]);
        }
    }
    // A pair found out of phase settles it whatever the others show: joining would short
    // two live phases. Only three verdicts of 同相 make the supplies one.
    if (!c.outOfPhase.empty()) {
        c.finding = Finding::OutOfPhase;
    } else if (!c.unjudged.empty()) {
        c.finding = Finding::Undetermined;
    } else {
        c.finding = Finding::InPhase;
    }
    return c;
}

PhasingConclusion Conclude(const MeasurementGroup& g) {
    std::array<Verdict, 3> phase{};
    std::array<Verdict, 3> sequence{};
    for (std::size_t k = 0; k < 3; ++k) {
        phase[k] = VerdictOf(kSameLetter[k], g.pairAngles[idx(kSameLetter[k])]);
        sequence[k] = VerdictOf(kCross[k], g.pairAngles[idx(kCross[k])]);
    }
    return Conclude(phase, sequence);
}

std::string_view FindingText(Finding f) {
    switch (f) {
        case Finding::InPhase:
            return "相位一致";
        case Finding::OutOfPhase:
            return "相位不一致";
        case Finding::Undetermined:
            return "无法判定";
    }
    return "无法判定";
}

std::string ConclusionDetail(const PhasingConclusion& c) {
    if (c.finding == Finding::InPhase) return "A1A2、B1B2、C1C2 均同相";
    std::string s;
    if (!c.outOfPhase.empty()) s = names(c.outOfPhase) + " 异相";
    if (!c.unjudged.empty()) {
        if (!s.empty()) s += "；";
        s += names(c.unjudged) + " 无定性结果（------）";
    }
    return s;
}

}  // namespace ck::measure
