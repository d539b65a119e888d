// SPDX-License-Identifier: MIT
#pragma once
// The history table as the program holds it: a heading row and 200 group rows of 19 cells, each
// filled row with the stored group it shows. The grid draws it; the text file, the spreadsheet
// and the printed report are written from it.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "measure/measurement.h"
#include "platform/wall_clock.h"

namespace ck::measure {

inline constexpr int kHistoryRows = 200;  // group rows 1..200 below the heading row 0
inline constexpr int kHistoryCols = 19;

// Row 0: what each column holds.
inline constexpr std::array<std::string_view, kHistoryCols> kHistoryHeadings = {
    "NO.",      "A1电压",       "A2电压",       "A1A2相位",     "A1A2定性相位",
    "B1电压",   "B2电压",       "B1B2相位",     "B1B2定性相位", "C1电压",
    "C2电压",   "C1C2相位",     "C1C2定性相位", "A1B2相位",     "A1B2定性相序",
    "B1C2相位", "B1C2定性相序", "C1A2相位",     "C1A2定性相序"};

using HistoryCells = std::array<std::string, kHistoryCols>;

// Where an input's voltage stands, and where a pair's angle does (its verdict to its right).
int HistoryVoltageColumn(Input in);
int HistoryAngleColumn(Pair pair);

// The cells of group number n's row: the number, the voltages pair by pair, each pair's angle
// with its verdict to its right.
HistoryCells HistoryRowCells(int groupNumber, const MeasurementGroup& group);

// Rows first .. first + count - 1.
struct RowSpan {
    int first = 0;
    int count = 0;
    bool operator==(const RowSpan&) const = default;
};

// When and from which port a row's group was downloaded.
struct Downloaded {
    platform::LocalTime time;
    int port = 0;  // COMn
    bool operator==(const Downloaded&) const = default;
};

class HistoryTable {
public:
    HistoryTable();

    // groups[i] is group number firstGroupNumber + i + 1 (firstGroupNumber counts from 0) and
    // goes in the row of that number, replacing all of it. A number with no row (below 1, past
    // 200) is not placed. Returns the rows written.
    RowSpan fill(int firstGroupNumber, std::span<const MeasurementGroup> groups,
                 std::optional<Downloaded> from = std::nullopt);
    // Every group row empty again.
    void clear();

    // The group row r (1..200) shows; nullptr for an empty row and outside the table.
    const MeasurementGroup* group(int row) const;
    // When and where row r's group came from, if the window said so.
    std::optional<Downloaded> downloaded(int row) const;
    // Cell (row, col): the heading in row 0, a group's texts in a filled row, empty texts in an
    // empty row and outside the table.
    std::string_view cell(int row, int col) const;

private:
    struct Row {
        std::optional<MeasurementGroup> group;
        std::optional<Downloaded> from;
        HistoryCells cells;
    };
    std::vector<Row> rows_;  // row r at r - 1
};

}  // namespace ck::measure
