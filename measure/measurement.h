// SPDX-License-Identifier: MIT
#pragma once
// The instrument's 24-byte measurement group, the texts its values are shown as, and the
// angle bands that give the verdicts. Pure functions: no state, no locale.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ck::measure {

inline constexpr std::size_t kGroupSize = 24;
// Angle value meaning "no angle measured".
inline constexpr int16_t NoAngle = 360;

// The six inputs; per-input arrays are indexed by this.
enum class Input : uint8_t { A1, B1, C1, A2, B2, C2 };
// The six pairs, in the order of their angle words.
enum class Pair : uint8_t { A1A2, B1B2, C1C2, A1B2, B1C2, C1A2 };
// Where a group comes from decides the order of its voltage block.
enum class Source : uint8_t { Live, Stored };

inline constexpr std::array<Input, 6> LiveInputOrder = {Input::A1, Input::B1, Input::C1,
                                                        Input::A2, Input::B2, Input::C2};
inline constexpr std::array<Input, 6> StoredInputOrder = {Input::A1, Input::A2, Input::B1,
                                                          Input::B2, Input::C1, Input::C2};

constexpr std::size_t idx(Input i) { return static_cast<std::size_t>(i); }
constexpr std::size_t idx(Pair p) { return static_cast<std::size_t>(p); }

// Which verdict a pair's angle feeds: a same-letter pair its qualitative phase, a cross pair
// its phase sequence.
enum class PairKind : uint8_t { Phase, Sequence };
// The verdict beside an angle; VerdictText gives the words the views show.
enum class Verdict : uint8_t { None, InPhase, OutOfPhase, Positive, Negative };
// How a verdict reads at a glance: 同相 and 顺相序 good, 异相 and 逆相序 bad, ------ none.
enum class Tone : uint8_t { Good, Bad, None };

// A pair, named first-group input first.
struct PairFacts {
    std::string_view name;
    Input first;
    Input second;
    PairKind kind;
};
// By Pair.
inline constexpr std::array<PairFacts, 6> kPairFacts = {{
    {"A1A2", Input::A1, Input::A2, PairKind::Phase},
    {"B1B2", Input::B1, Input::B2, PairKind::Phase},
    {"C1C2", Input::C1, Input::C2, PairKind::Phase},
    {"A1B2", Input::A1, Input::B2, PairKind::Sequence},
    {"B1C2", Input::B1, Input::C2, PairKind::Sequence},
    {"C1A2", Input::C1, Input::A2, PairKind::Sequence},
}};
// By Input.
inline constexpr std::array<std::string_view, 6> kInputNames = {"A1", "B1", "C1", "A2", "B2", "C2"};

constexpr std::string_view InputName(Input in) { return kInputNames[idx(in)]; }
constexpr std::string_view PairName(Pair p) { return kPairFacts[idx(p)].name; }
constexpr PairKind KindOf(Pair p) { return kPairFacts[idx(p)].kind; }

struct MeasurementGroup {
    std::array<int16_t, 6> pairAngles{};  // by Pair, whole degrees, 0..32767
    std::array<bool, 6> indicators{};     // by Input
    std::array<uint8_t, 6> voltages{};    // by Input, whole kV, 0 = no reading

    bool operator==(const MeasurementGroup&) const = default;
};

// Decodes the group whose first byte is buf[first]. Fails (nullopt) when an angle word's high
// byte is 0x80 or more, and when the group does not lie wholly inside buf.
std::optional<MeasurementGroup> DecodeGroup(std::span<const uint8_t> buf, std::size_t first,
                                            Source source);
// The bytes DecodeGroup reads back as `group` (angles must be 0..32767).
std::array<uint8_t, kGroupSize> EncodeGroup(const MeasurementGroup& group, Source source);

std::string FormatLiveVoltage(uint8_t kv);    // "-- kV" for 0, else "10 kV"
std::string FormatStoredVoltage(uint8_t kv);  // "--kV" for 0, else "10 kV"
std::string FormatAngle(int angle);           // "------" for 360, else at least three digits
std::string FormatGroupNumber(int n);         // " 7"

// Verdicts by the angle bands; the angle as single-precision, as the instrument's whole degrees
// convert exactly.
Verdict PhaseVerdict(float angle);     // InPhase / OutOfPhase / None
Verdict SequenceVerdict(float angle);  // Positive / Negative / None
// The verdict of a pair's angle, by the pair's kind.
Verdict VerdictOf(Pair pair, int16_t angle);
std::string_view VerdictText(Verdict v);  // 同相 异相 顺相序 逆相序 ------
Tone ToneOf(Verdict v);

// The verdicts as text.
inline std::string_view ClassifyPhase(float angle) { return VerdictText(PhaseVerdict(angle)); }
inline std::string_view ClassifySequence(float angle) {
    return VerdictText(SequenceVerdict(angle));
}

}  // namespace ck::measure
