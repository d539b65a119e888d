// SPDX-License-Identifier: MIT
#include "measure/history_rows.h"

#include "measure/measurement.h"

namespace ck::measure {
namespace {

struct VoltageCol {
    std::size_t col;
    Input input;
};
constexpr VoltageCol kVoltageCols[] = {{1, Input::A1}, {2, Input::A2}, {5, Input::B1},
                                       {6, Input::B2}, {9, Input::C1}, {10, Input::C2}};

// Each pair's angle column; its verdict goes in the column to its right.
struct PairCol {
    std::size_t col;
    Pair pair;
};
constexpr PairCol kPairCols[] = {{3, Pair::A1A2},  {7, Pair::B1B2},  {11, Pair::C1C2},
                                 {13, Pair::A1B2}, {15, Pair::B1C2}, {17, Pair::C1A2}};

}  // namespace

std::vector<HistoryRow> HistoryRows(int firstGroupNumber, std::span<const MeasurementGroup> groups,
                                    int lastRow) {
    std::vector<HistoryRow> rows;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        // Wide enough that no first number and group count can wrap onto a row.
        const int64_t n = int64_t{firstGroupNumber} + static_cast<int64_t>(i) + 1;
        if (n > lastRow) break;
        if (n < 1) continue;
        const MeasurementGroup& group = groups[i];

        HistoryRow& r = rows.emplace_back();
        r.row = static_cast<int>(n);
        r.cells[0] = FormatGroupNumber(r.row);
        for (const VoltageCol& v : kVoltageCols) {
            r.cells[v.col] = FormatStoredVoltage(group.voltages[idx(v.input)]);
        }
        for (const PairCol& p : kPairCols) {
            const int16_t angle = group.pairAngles[idx(p.pair)];
            r.cells[p.col] = FormatAngle(angle);
            r.cells[p.col + 1] = VerdictText(VerdictOf(p.pair, angle));
        }
    }
    return rows;
}

}  // namespace ck::measure
