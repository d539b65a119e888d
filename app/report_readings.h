// SPDX-License-Identifier: MIT
#pragma once
// The readings a phasing report can be made of, as the window receives them: the live reading
// the panel shows, with its time and port, and each history row as downloaded. Kept beside
// the views, typed, so that a report never reads a widget.

#include <QDateTime>

#include <map>
#include <optional>
#include <span>
#include <vector>

#include "measure/measurement.h"
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

class ReportReadings {
public:
    // A live reading the panel now shows, taken at `time` on COM `port`.
    void shown(const measure::MeasurementGroup& g, const QDateTime& time, int port);
    // A block of stored groups as the history table places them: groups[i] in row
    // firstGroupNumber + i + 1, rows 1 to 200 only.
    void filled(int firstGroupNumber, std::span<const measure::MeasurementGroup> groups,
                const QDateTime& time, int port);
    // The history table was cleared.
    void clearHistory();

    // From the live view: the reading shown. From the history view: the rows in
    // `selectedRows` (table rows from 1) that hold a group, in row order, and every row up
    // to `histcount` that does.
    ReportContent content(bool live, const std::vector<int>& selectedRows, int histcount) const;

private:
    std::optional<views::ReportReading> shown_;
    std::map<int, views::ReportReading> rows_;
};

}  // namespace ck::app
