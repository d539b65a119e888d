// SPDX-License-Identifier: MIT
#pragma once
// What the save and print commands put in their files and on paper, composed from the texts
// the views show: the live panel's label captions and the history table's cells.

#include <functional>
#include <optional>
#include <string>

namespace ck::output {

// Caption of live-panel label n (11..16, 21..26, 31..36).
using CaptionSource = std::function<std::string(int label)>;
// Text of history-table cell (row, col); nullopt where the cell cannot be read.
using CellSource = std::function<std::optional<std::string>(int row, int col)>;

inline constexpr int kHistCols = 19;
inline constexpr int kHistRows = 200;

// The live view as text: a heading line and one line per input, each ending in CR LF.
std::string LiveText(const CaptionSource& caption);
// The history table as text: the heading line, then rows 1..200 on columns 1, 9, ..., 145;
// no line break after the last row.
std::string HistoryText(const CellSource& cell);

// The printed live report: a blank line, then the lines of LiveText.
std::string LiveReport(const CaptionSource& caption);
// The printed history report: a blank line, the heading with short titles, rows 1..histcount
// (rows past the table's last are left out), and two closing spaces ending the last line.
std::string HistoryReport(const CellSource& cell, int histcount);

}  // namespace ck::output
