// SPDX-License-Identifier: MIT
#include "measure/history_table.h"

#include <cstdint>

namespace ck::measure {
namespace {

// Voltages in their columns, in stored order.
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

int HistoryVoltageColumn(Input in) {
    for (const VoltageCol& v : kVoltageCols) {
        if (v.input == in) return static_cast<int>(v.col);
    }
    return 0;
}

int HistoryAngleColumn(Pair pair) {
    for (const PairCol& p : kPairCols) {
        if (p.pair == pair) return static_cast<int>(p.col);
    }
    return 0;
}

HistoryCells HistoryRowCells(int groupNumber, const MeasurementGroup& group) {
    HistoryCells cells;
    cells[0] = FormatGroupNumber(groupNumber);
    for (const VoltageCol& v : kVoltageCols) {
        cells[v.col] = FormatStoredVoltage(group.voltages[idx(v.input)]);
    }
    for (const PairCol& p : kPairCols) {
        const int16_t angle = group.pairAngles[idx(p.pair)];
        cells[p.col] = FormatAngle(angle);
        cells[p.col + 1] = VerdictText(VerdictOf(p.pair, angle));
    }
    return cells;
}

HistoryTable::HistoryTable() : rows_(kHistoryRows) {}

RowSpan HistoryTable::fill(int firstGroupNumber, std::span<const MeasurementGroup> groups,
                           std::optional<Downloaded> from) {
    RowSpan span;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        // Wide enough that no first number and group count can wrap onto a row.
        const int64_t n = int64_t{firstGroupNumber} + static_cast<int64_t>(i) + 1;
        if (n > kHistoryRows) break;
        if (n < 1) continue;
        const int row = static_cast<int>(n);
        Row& r = rows_[static_cast<std::size_t>(row - 1)];
        r.group = groups[i];
        r.from = from;
        r.cells = HistoryRowCells(row, groups[i]);
        if (span.count == 0) span.first = row;
        ++span.count;
    }
    return span;
}

void HistoryTable::clear() {
    for (Row& r : rows_) r = Row{};
}

const MeasurementGroup* HistoryTable::group(int row) const {
    if (row < 1 || row > kHistoryRows) return nullptr;
    const Row& r = rows_[static_cast<std::size_t>(row - 1)];
    return r.group ? &*r.group : nullptr;
}

std::optional<Downloaded> HistoryTable::downloaded(int row) const {
    if (row < 1 || row > kHistoryRows) return std::nullopt;
    return rows_[static_cast<std::size_t>(row - 1)].from;
}

std::string_view HistoryTable::cell(int row, int col) const {
    if (col < 0 || col >= kHistoryCols || row < 0 || row > kHistoryRows) return {};
    const auto c = static_cast<std::size_t>(col);
    if (row == 0) return kHistoryHeadings[c];
    return rows_[static_cast<std::size_t>(row - 1)].cells[c];
}

}  // namespace ck::measure
