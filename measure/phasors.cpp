// SPDX-License-Identifier: MIT
#include "measure/phasors.h"

#include <algorithm>

namespace ck::measure {
namespace {

// A same-letter pair places its second-group input; a cross pair is drawn as an arc from its
// first-group input.
constexpr std::array<Pair, 3> kSameLetterPairs = {Pair::A1A2, Pair::B1B2, Pair::C1C2};
constexpr std::array<Pair, 3> kCrossPairs = {Pair::A1B2, Pair::B1C2, Pair::C1A2};

bool usable(int16_t angle) { return angle >= 0 && angle < NoAngle; }

bool secondGroup(Input in) { return idx(in) >= idx(Input::A2); }

std::string kvText(uint8_t kv) { return std::to_string(kv) + " kV"; }

}  // namespace

int ReferenceAngle(Input in) {
    switch (in) {
        case Input::A1:
        case Input::A2:
            return 0;
        case Input::B1:
        case Input::B2:
            return -120;
        case Input::C1:
        case Input::C2:
            return 120;
    }
    return 0;
}

int NormalizeAngle(int deg) {
    int n = ((deg % 360) + 360) % 360;
    return n > 180 ? n - 360 : n;
}

std::string Phasor::description() const {
    std::string s(name);
    s += "：";
    if (noAngle) {
        s += pairAngle == NoAngle ? "无相位读数"
                                  : "相位读数无效（" + std::to_string(pairAngle) + "）";
    } else if (secondGroup(input)) {
        s += "相角 " + std::to_string(angleDeg) + "°（" +
             std::string(PairName(static_cast<Pair>(idx(input) - idx(Input::A2)))) + " " +
             std::to_string(pairAngle) + "°）";
    } else {
        s += "参考相角 " + std::to_string(angleDeg) + "°";
    }
    s += "，";
    s += noVoltage ? std::string("无电压读数") : "电压 " + kvText(kv);
    return s;
}

std::string Phasor::note() const {
    if (!missing()) return {};
    std::string s(name);
    s += " ";
    if (noVoltage) s += "无电压读数";
    if (noVoltage && noAngle) s += "、";
    if (noAngle) s += pairAngle == NoAngle ? "无相位读数" : "相位读数无效";
    if (noAngle) s += "，画在参考位置";
    return s;
}

PhasorDiagram PhasorGeometry(const MeasurementGroup& g) {
    PhasorDiagram d;
    const uint8_t maxKv = *std::max_element(g.voltages.begin(), g.voltages.end());
    for (std::size_t i = 0; i < 6; ++i) {
        Phasor& p = d.phasors[i];
        p.input = static_cast<Input>(i);
        p.name = InputName(p.input);
        p.angleDeg = ReferenceAngle(p.input);
        p.kv = g.voltages[i];
        p.noVoltage = p.kv == 0;
        p.length = p.noVoltage ? 1.0 : static_cast<double>(p.kv) / maxKv;
    }
    for (const Pair pair : kSameLetterPairs) {
        const PairFacts& f = kPairFacts[idx(pair)];
        Phasor& p = d.phasors[idx(f.second)];
        p.pairAngle = g.pairAngles[idx(pair)];
        p.noAngle = !usable(p.pairAngle);
        if (!p.noAngle) p.angleDeg = NormalizeAngle(ReferenceAngle(f.first) - p.pairAngle);
    }
    for (std::size_t k = 0; k < kCrossPairs.size(); ++k) {
        const PairFacts& f = kPairFacts[idx(kCrossPairs[k])];
        CrossArc& a = d.arcs[k];
        const int16_t angle = g.pairAngles[idx(kCrossPairs[k])];
        const Verdict verdict = VerdictOf(kCrossPairs[k], angle);
        a.pair = kCrossPairs[k];
        a.from = f.first;
        a.to = f.second;
        a.startDeg = ReferenceAngle(f.first);
        a.valid = usable(angle);
        a.sweepDeg = a.valid ? -angle : 0;
        a.angleText = FormatAngle(angle);
        a.verdict = VerdictText(verdict);
        a.tone = ToneOf(verdict);
    }
    for (std::size_t k = 0; k < 6; ++k) {
        PairVerdict& v = d.verdicts[k];
        const int16_t angle = g.pairAngles[k];
        const Verdict verdict = VerdictOf(static_cast<Pair>(k), angle);
        v.pair = static_cast<Pair>(k);
        v.name = kPairFacts[k].name;
        v.angleText = FormatAngle(angle);
        v.verdict = VerdictText(verdict);
        v.tone = ToneOf(verdict);
    }
    return d;
}

}  // namespace ck::measure
