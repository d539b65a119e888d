// SPDX-License-Identifier: MIT
#pragma once
// What the save and print commands put in their files and on paper, written from the live
// reading and the history table as the window shows them.

#include <string>

#include "measure/history_table.h"
#include "measure/live_reading.h"

namespace ck::output {

// The live view as text: a heading line and one line per panel row, each ending in CR LF.
std::string LiveText(const measure::LiveReading& live);
// The history table as text: the heading line, then rows 1..200 on columns 1, 9, ..., 145;
// no line break after the last row.
std::string HistoryText(const measure::HistoryTable& table);

// The printed live report: a blank line, then the lines of LiveText.
std::string LiveReport(const measure::LiveReading& live);
// The printed history report: a blank line, the heading with short titles, rows 1..histcount
// (rows past the table's last are left out), and two closing spaces ending the last line.
std::string HistoryReport(const measure::HistoryTable& table, int histcount);

}  // namespace ck::output
