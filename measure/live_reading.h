// SPDX-License-Identifier: MIT
#pragma once
// The live reading as the program holds it: the values of the last reading the panel accepted,
// the texts, lamps and verdicts it shows for them, and when and on which port it was taken. The
// panel and the phasor window draw it; the live text file, the printed live report and the
// session log are written from it.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "measure/measurement.h"
#include "platform/wall_clock.h"

namespace ck::measure {

// The panel's rows, top to bottom: the inputs pair by pair.
inline constexpr std::array<Input, 6> kPanelInputs = {Input::A1, Input::A2, Input::B1,
                                                      Input::B2, Input::C1, Input::C2};
// The panel's columns: each row's voltage, then the same-letter and the cross pairs, each
// letter's angle on its first row and the verdict beneath it on its second.
enum class PanelColumn : uint8_t { Voltage, Phase, Sequence };
inline constexpr int kPanelRows = 6;

// The pair shown in the phase or sequence column at `row` (0..5).
constexpr Pair PanelPair(int row, PanelColumn column) {
    const int letter = row / 2;
    return static_cast<Pair>(column == PanelColumn::Sequence ? 3 + letter : letter);
}

class LiveReading {
public:
    // Before any reading: no voltage, no angle, no lamp lit; no time, no port.
    LiveReading();
    LiveReading(const MeasurementGroup& values, const platform::LocalTime& time, int port);

    const MeasurementGroup& values() const { return values_; }
    const std::optional<platform::LocalTime>& time() const { return time_; }
    int port() const { return port_; }  // COMn

    bool lamp(Input in) const { return values_.indicators[idx(in)]; }
    const std::string& voltageText(Input in) const { return voltages_[idx(in)]; }  // "-- kV"
    const std::string& angleText(Pair p) const { return angles_[idx(p)]; }         // "005"
    Verdict verdict(Pair p) const { return verdicts_[idx(p)]; }
    // Cell (row 0..5, column) of the panel, as it reads.
    std::string_view text(int row, PanelColumn column) const;

private:
    MeasurementGroup values_;
    std::optional<platform::LocalTime> time_;
    int port_ = 0;
    std::array<std::string, 6> voltages_;  // by Input
    std::array<std::string, 6> angles_;    // by Pair
    std::array<Verdict, 6> verdicts_{};    // by Pair
};

}  // namespace ck::measure
