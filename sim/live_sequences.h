// SPDX-License-Identifier: MIT
#pragma once
// Live reading sequences the simulated instrument can be told to answer with, by name, so a
// user or a test can put a chosen connection in front of the application.

#include <optional>
#include <string_view>
#include <vector>

#include "measure/measurement.h"

namespace ck::sim {

// The names LiveSequenceNamed knows, in the order a help text lists them.
inline constexpr std::string_view kLiveSequenceNames[] = {"default", "in-phase", "crossed",
                                                          "missing", "steady"};

// "default": DefaultLiveSequence(), a connection that changes.
// "in-phase": the second probe group on the same phases as the first, at 10 kV and 35 kV:
//   every same-letter pair in phase, every cross pair a positive sequence.
// "crossed": phases B and C exchanged on the second probe group: A in phase, B and C out of
//   phase, the cross pairs negative, none and positive sequence.
// "missing": an in-phase connection with one input dead in turn: 0 kV, its lamp off, and no
//   angle (360) for both pairs it belongs to.
// "steady": one in-phase reading at 10 kV, the same every time: each reply byte for byte the
//   one before.
// Nothing for any other name.
std::optional<std::vector<measure::MeasurementGroup>> LiveSequenceNamed(std::string_view name);

}  // namespace ck::sim
