// SPDX-License-Identifier: MIT
#pragma once
// A three-phase connection as the simulated instrument measures it: each input's phase, the
// angles between the pairs and the voltages, from which its readings are made.

#include <functional>
#include <optional>

#include "measure/measurement.h"

namespace ck::sim {

// The first probe group is A 0, B 240, C 120 degrees; the second follows it `offset` degrees
// behind, with B and C exchanged when the connection is crossed. A dead input reads 0 kV and
// its pairs no angle.
struct Connection {
    bool crossed = false;
    int offset = 0;
    uint8_t kv1 = 10;
    uint8_t kv2 = 10;
    std::optional<measure::Input> dead;
};

// The group the instrument reports for the connection; `jitter(span)` gives a deviation in
// -span..+span (none when empty).
measure::MeasurementGroup ConnectionReading(const Connection& c,
                                            const std::function<int(int)>& jitter = {});

}  // namespace ck::sim
