// SPDX-License-Identifier: MIT
#include "sim/live_sequences.h"

#include "sim/connection.h"
#include "sim/instrument.h"

namespace ck::sim {

using measure::Input;
using measure::MeasurementGroup;

std::optional<std::vector<MeasurementGroup>> LiveSequenceNamed(std::string_view name) {
    if (name == "default") return DefaultLiveSequence();
    std::vector<Connection> plan;
    if (name == "in-phase") {
        plan = {{false, 0, 10, 10, {}},
                {false, 2, 10, 11, {}},
                {false, 357, 35, 35, {}},
                {false, 1, 35, 36, {}}};
    } else if (name == "crossed") {
        plan = {{true, 0, 10, 10, {}}, {true, 3, 10, 11, {}}, {true, 358, 35, 36, {}}};
    } else if (name == "steady") {
        plan = {{false, 0, 10, 10, {}}};
    } else if (name == "missing") {
        for (const Input in : measure::LiveInputOrder) plan.push_back({false, 1, 10, 10, in});
    } else {
        return std::nullopt;
    }
    std::vector<MeasurementGroup> out;
    out.reserve(plan.size());
    for (const Connection& c : plan) out.push_back(ConnectionReading(c));
    return out;
}

}  // namespace ck::sim
