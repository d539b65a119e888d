// SPDX-License-Identifier: MIT
#pragma once
// What a phasing report can be made of, taken from the model the views draw: the live reading
// the panel shows, with its time and port, and the history rows with when and where each was
// downloaded. A report never reads a widget.

#include <QDateTime>

#include <vector>

#include "measure/history_table.h"
#include "measure/live_reading.h"
#include "platform/wall_clock.h"
#include "views/phasing_report.h"

namespace ck::app {

// What a report asked for now holds, taken when its dialog opens and kept as it was.
struct ReportContent {
    bool live = true;  // asked for in the live view
    // Live: the reading the panel shows, if any. History: the selected rows that hold a group.
    std::vector<views::ReportReading> chosen;
    // History: every downloaded row, offered when no row is selected.
    std::vector<views::ReportReading> downloaded;
};

// From the live view: the reading shown. From the history view: the rows in `selectedRows`
// (table rows from 1) that hold a group, in row order, and every row up to `histcount` that
// does.
ReportContent ReportContentOf(const measure::LiveReading& live,
                              const measure::HistoryTable& history, bool liveView,
                              const std::vector<int>& selectedRows, int histcount);

// The same moment as Qt keeps it, in its own offset from UTC.
QDateTime ToQDateTime(const platform::LocalTime& t);

}  // namespace ck::app
