#include "sim/live_sequences.h"

#include <array>
#include <utility>

#include "sim/instrument.h"

namespace ck::sim {
namespace {

using measure::idx;
using measure::Input;
using measure::MeasurementGroup;

constexpr std::array<std::pair<Input, Input>, 6> kPairInputs = {{
    {Input::A1, Input::A2},
    {Input::B1, Input::B2},
    {Input::C1, Input::C2},
    {Input::A1, Input::B2},
    {Input::B1, Input::C2},
    {Input::C1, Input::A2},
}};

struct Connection {
    bool crossed = false;
    int offset = 0;  // degrees the second probe group lags the first
    uint8_t kv1 = 10;
    uint8_t kv2 = 10;
    std::optional<Input> dead;
};

int Phase(Input in, const Connection& c) {
    switch (in) {
        case Input::A1:
            return 0;
        case Input::B1:
            return 240;
        case Input::C1:
            return 120;
        case Input::A2:
            return c.offset;
        case Input::B2:
            return (c.crossed ? 120 : 240) + c.offset;
        case Input::C2:
            return (c.crossed ? 240 : 120) + c.offset;
    }
    return 0;
}

MeasurementGroup Reading(const Connection& c) {
    MeasurementGroup g;
    for (std::size_t k = 0; k < kPairInputs.size(); ++k) {
        const auto [first, second] = kPairInputs[k];
        const bool dead = c.dead && (first == *c.dead || second == *c.dead);
        const int a = ((Phase(first, c) - Phase(second, c)) % 360 + 360) % 360;
        g.pairAngles[k] = dead ? measure::NoAngle : static_cast<int16_t>(a);
    }
    for (const Input in : measure::LiveInputOrder) {
        const bool first = in == Input::A1 || in == Input::B1 || in == Input::C1;
        const bool dead = c.dead && in == *c.dead;
        g.voltages[idx(in)] = dead ? 0 : (first ? c.kv1 : c.kv2);
        g.indicators[idx(in)] = !dead;
    }
    return g;
}

}  // namespace

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
    } else if (name == "missing") {
        for (const Input in : measure::LiveInputOrder) plan.push_back({false, 1, 10, 10, in});
    } else {
        return std::nullopt;
    }
    std::vector<MeasurementGroup> out;
    out.reserve(plan.size());
    for (const Connection& c : plan) out.push_back(Reading(c));
    return out;
}

}  // namespace ck::sim
