// SPDX-License-Identifier: MIT
#pragma once
// A live reading as a phasor diagram, in numbers: where each input's phasor points and how
// long it is, the arcs of the three cross pairs, and each pair's verdict with its tone. The
// window only paints what this computes, so the geometry is checked without pixels.
//
// Angles are degrees counter-clockwise, in (-180, 180], with A1 at 0. Phasors turn
// counter-clockwise, so a phase that lags lies clockwise. The first probe group is taken as a
// balanced positive-sequence reference: A1 at 0, B1 at -120, C1 at +120. A pair angle XY is
// how far Y lags X, so the second group's phasors lie at
//     A2 = A1 - A1A2,   B2 = B1 - B1B2,   C2 = C1 - C1C2.
// This is the reading under which the verdict bands make sense: with the second group on the
// same phases as the first, A1B2, B1C2 and C1A2 are each 120 (B lags A by a third of a turn),
// the positive-sequence band, while the same-letter pairs are 0, in phase.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "measure/measurement.h"

namespace ck::measure {

// Where the first group's phasors lie: A1 0, B1 -120, C1 +120 (A2, B2, C2 likewise).
int ReferenceAngle(Input in);
// `deg` brought into (-180, 180].
int NormalizeAngle(int deg);

struct Phasor {
    Input input = Input::A1;
    std::string_view name;  // "A1"
    int angleDeg = 0;       // where it is drawn
    double length = 0;      // share of the diagram's radius, 0..1
    uint8_t kv = 0;
    // Second group only: the angle of its same-letter pair as measured (A1A2 for A2).
    int16_t pairAngle = 0;
    bool noVoltage = false;  // 0 kV: drawn at full length
    // No usable angle for its same-letter pair (360, or beyond a turn): drawn at its letter's
    // reference place.
    bool noAngle = false;

    // Drawn dashed and grey, with a note.
    bool missing() const { return noVoltage || noAngle; }
    // The phasor as a sentence for screen readers: name, angle and voltage.
    std::string description() const;
    // What is missing, for the note beside the diagram; empty when nothing is.
    std::string note() const;
};

// A cross pair's measured angle, drawn from its first-group phasor clockwise (the way the
// second input lags) by the angle.
struct CrossArc {
    Pair pair = Pair::A1B2;
    Input from = Input::A1;
    Input to = Input::B2;
    int startDeg = 0;  // at `from`
    int sweepDeg = 0;  // negative: clockwise; 0 when there is no usable angle
    bool valid = false;
    std::string angleText;     // as the live panel shows it
    std::string_view verdict;  // its words
    Tone tone = Tone::None;
};

// A pair as the live panel shows it: angle text and verdict.
struct PairVerdict {
    Pair pair = Pair::A1A2;
    std::string_view name;  // "A1A2"
    std::string angleText;
    std::string_view verdict;
    Tone tone = Tone::None;
};

struct PhasorDiagram {
    std::array<Phasor, 6> phasors;        // by Input
    std::array<CrossArc, 3> arcs;         // A1B2, B1C2, C1A2
    std::array<PairVerdict, 6> verdicts;  // by Pair
};

PhasorDiagram PhasorGeometry(const MeasurementGroup& g);

}  // namespace ck::measure
