// SPDX-License-Identifier: MIT
#include "measure/live_reading.h"

namespace ck::measure {
namespace {

// What the panel shows before its first reading is what a reading of nothing shows.
MeasurementGroup nothing() {
    MeasurementGroup g;
    g.pairAngles.fill(NoAngle);
    return g;
}

}  // namespace

LiveReading::LiveReading() : LiveReading(nothing(), {}, 0) { time_.reset(); }

LiveReading::LiveReading(const MeasurementGroup& values, const platform::LocalTime& time, int port)
    : values_(values), time_(time), port_(port) {
    for (std::size_t i = 0; i < 6; ++i) {
        voltages_[i] = FormatLiveVoltage(values.voltages[i]);
        angles_[i] = FormatAngle(values.pairAngles[i]);
        verdicts_[i] = VerdictOf(static_cast<Pair>(i), values.pairAngles[i]);
    }
}

std::string_view LiveReading::text(int row, PanelColumn column) const {
    if (row < 0 || row >= kPanelRows) return {};
    if (column == PanelColumn::Voltage)
        return voltageText(kPanelInputs[static_cast<std::size_t>(row)]);
    const Pair pair = PanelPair(row, column);
    return row % 2 == 0 ? std::string_view(angleText(pair)) : VerdictText(verdict(pair));
}

}  // namespace ck::measure
