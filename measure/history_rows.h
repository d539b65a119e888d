// SPDX-License-Identifier: MIT
#pragma once
// The rows of the history table that one history reply fills, as texts: which rows and what
// each of their cells says. Pure, so the same code that fills the grid can be tested and
// fuzzed without a widget.

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "measure/measurement.h"

namespace ck::measure {

inline constexpr std::size_t kHistoryCols = 19;

struct HistoryRow {
    int row = 0;  // the group number, which is also the table row (from 1)
    // Group number, voltages (columns 1, 2, 5, 6, 9, 10 in stored order), angles (3, 7, 11,
    // 13, 15, 17) and the verdict of each angle in the column to its right.
    std::array<std::string, kHistoryCols> cells;
};

// groups[i] is group number firstGroupNumber + i + 1 (firstGroupNumber counts from 0). Stops
// at the first group whose number is past `lastRow`; a number below 1 has no row.
std::vector<HistoryRow> HistoryRows(int firstGroupNumber, std::span<const MeasurementGroup> groups,
                                    int lastRow);

}  // namespace ck::measure
