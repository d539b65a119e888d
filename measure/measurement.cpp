// SPDX-License-Identifier: MIT
#include "measure/measurement.h"

namespace ck::measure {
namespace {

constexpr std::size_t kIndicatorOffset = 12;
constexpr std::size_t kVoltageOffset = 18;

constexpr std::string_view kNone = "------";

const std::array<Input, 6>& orderOf(Source source) {
    return source == Source::Live ? LiveInputOrder : StoredInputOrder;
}

}  // namespace

std::optional<MeasurementGroup> DecodeGroup(std::span<const uint8_t> buf, std::size_t first,
                                            Source source) {
    if (first > buf.size() || buf.size() - first < kGroupSize) return std::nullopt;
    const auto g = buf.subspan(first, kGroupSize);
    MeasurementGroup out;
    for (std::size_t k = 0; k < 6; ++k) {
        const uint8_t hi = g[2 * k];
        if (hi >= 0x80) return std::nullopt;
        out.pairAngles[k] = static_cast<int16_t>(hi * 256 + g[2 * k + 1]);
    }
    for (std::size_t k = 0; k < 6; ++k) {
        out.indicators[idx(LiveInputOrder[k])] = g[kIndicatorOffset + k] != 0;
        out.voltages[idx(orderOf(source)[k])] = g[kVoltageOffset + k];
    }
    return out;
}

std::array<uint8_t, kGroupSize> EncodeGroup(const MeasurementGroup& group, Source source) {
    std::array<uint8_t, kGroupSize> g{};
    for (std::size_t k = 0; k < 6; ++k) {
        const auto a = static_cast<uint16_t>(group.pairAngles[k]);
        g[2 * k] = static_cast<uint8_t>(a >> 8);
        g[2 * k + 1] = static_cast<uint8_t>(a & 0xFF);
        g[kIndicatorOffset + k] = group.indicators[idx(LiveInputOrder[k])] ? 1 : 0;
        g[kVoltageOffset + k] = group.voltages[idx(orderOf(source)[k])];
    }
    return g;
}

std::string FormatLiveVoltage(uint8_t kv) {
    return kv == 0 ? std::string("-- kV") : std::to_string(kv) + " kV";
}

std::string FormatStoredVoltage(uint8_t kv) {
    return kv == 0 ? std::string("--kV") : std::to_string(kv) + " kV";
}

std::string FormatAngle(int angle) {
    if (angle == NoAngle) return std::string(kNone);
    const std::string digits = std::to_string(angle);
    return digits.size() >= 3 ? digits : std::string(3 - digits.size(), '0') + digits;
}

// Appended rather than `" " + ...`: GCC 12 at -O3 warns falsely (-Wrestrict) inside the
// standard library's operator+ for a literal and a temporary string.
std::string FormatGroupNumber(int n) { return std::string(" ").append(std::to_string(n)); }

Verdict PhaseVerdict(float angle) {
    if (angle < 20.0f) return Verdict::InPhase;
    if (angle < 100.0f) return Verdict::None;
    if (angle < 140.0f) return Verdict::OutOfPhase;
    if (angle < 220.0f) return Verdict::None;
    if (angle < 260.0f) return Verdict::OutOfPhase;
    if (angle < 340.0f) return Verdict::None;
    if (angle < 360.0f) return Verdict::InPhase;
    return Verdict::None;
}

Verdict SequenceVerdict(float angle) {
    if (angle < 100.0f) return Verdict::None;
    if (angle < 140.0f) return Verdict::Positive;
    if (angle < 220.0f) return Verdict::None;
    if (angle < 260.0f) return Verdict::Negative;
    return Verdict::None;
}

Verdict VerdictOf(Pair pair, int16_t angle) {
    const auto a = static_cast<float>(angle);
    return KindOf(pair) == PairKind::Phase ? PhaseVerdict(a) : SequenceVerdict(a);
}

std::string_view VerdictText(Verdict v) {
    switch (v) {
        case Verdict::InPhase:
            return "同相";
        case Verdict::OutOfPhase:
            return "异相";
        case Verdict::Positive:
            return "顺相序";
        case Verdict::Negative:
            return "逆相序";
        case Verdict::None:
            break;
    }
    return kNone;
}

Tone ToneOf(Verdict v) {
    switch (v) {
        case Verdict::InPhase:
        case Verdict::Positive:
            return Tone::Good;
        case Verdict::OutOfPhase:
        case Verdict::Negative:
            return Tone::Bad;
        case Verdict::None:
            break;
    }
    return Tone::None;
}

}  // namespace ck::measure
