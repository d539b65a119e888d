// SPDX-License-Identifier: MIT
#include "measure/phasors.h"

#include <algorithm>

namespace ck::measure {
namespace {

constexpr std::array<std::string_view, 6> kInputNames = {"A1", "B1", "C1", "A2", "B2", "C2"};
constexpr std::array<std::string_view, 6> kPairNames = {"A1A2", "B1B2", "C1C2",
                                                        "A1B2", "B1C2", "C1A2"};
// The same-letter pair that places each second-group input, and the first-group input of it.
struct Placement {
    Input second;
    Input first;
    Pair pair;
};
constexpr std::array<Placement, 3> kPlacements = {{{Input::A2, Input::A1, Pair::A1A2},
                                                   {Input::B2, Input::B1, Pair::B1B2},
                                                   {Input::C2, Input::C1, Pair::C1C2}}};
constexpr std::array<Placement, 3> kCrossPairs = {{{Input::B2, Input::A1, Pair::A1B2},
                                                   {Input::C2, Input::B1, Pair::B1C2},
                                                   {Input::A2, Input::C1, Pair::C1A2}}};

bool usable(int16_t angle) { return angle >= 0 && angle < NoAngle; }

bool secondGroup(Input in) { return idx(in) >= idx(Input::A2); }

std::string kvText(uint8_t kv) { return std::to_string(kv) + " kV"; }

}  // namespace

Tone ToneOf(std::string_view verdict) {
    if (verdict == "同相" || verdict == "顺相序") return Tone::Good;
    if (verdict == "异相" || verdict == "逆相序") return Tone::Bad;
    return Tone::None;
}

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

std::string_view InputName(Input in) { return kInputNames[idx(in)]; }
std::string_view PairName(Pair p) { return kPairNames[idx(p)]; }

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
        p.name = kInputNames[i];
        p.angleDeg = ReferenceAngle(p.input);
        p.kv = g.voltages[i];
        p.noVoltage = p.kv == 0;
        p.length = p.noVoltage ? 1.0 : static_cast<double>(p.kv) / maxKv;
    }
    for (const Placement& pl : kPlacements) {
        Phasor& p = d.phasors[idx(pl.second)];
        p.pairAngle = g.pairAngles[idx(pl.pair)];
        p.noAngle = !usable(p.pairAngle);
        if (!p.noAngle) p.angleDeg = NormalizeAngle(ReferenceAngle(pl.first) - p.pairAngle);
    }
    for (std::size_t k = 0; k < kCrossPairs.size(); ++k) {
        const Placement& pl = kCrossPairs[k];
        CrossArc& a = d.arcs[k];
        const int16_t angle = g.pairAngles[idx(pl.pair)];
        a.pair = pl.pair;
        a.from = pl.first;
        a.to = pl.second;
        a.startDeg = ReferenceAngle(pl.first);
        a.valid = usable(angle);
        a.sweepDeg = a.valid ? -angle : 0;
        a.angleText = FormatAngle(angle);
        a.verdict = ClassifySequence(static_cast<float>(angle));
        a.tone = ToneOf(a.verdict);
    }
    for (std::size_t k = 0; k < 6; ++k) {
        PairVerdict& v = d.verdicts[k];
        const int16_t angle = g.pairAngles[k];
        v.pair = static_cast<Pair>(k);
        v.name = kPairNames[k];
        v.angleText = FormatAngle(angle);
        v.verdict = k < 3 ? ClassifyPhase(static_cast<float>(angle))
                          : ClassifySequence(static_cast<float>(angle));
        v.tone = ToneOf(v.verdict);
    }
    return d;
}

}  // namespace ck::measure
