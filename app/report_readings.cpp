// SPDX-License-Identifier: MIT
#include "app/report_readings.h"

#include <algorithm>

#include "output/reports.h"

namespace ck::app {

void ReportReadings::shown(const measure::MeasurementGroup& g, const QDateTime& time, int port) {
    shown_ = views::ReportReading{g, 0, time, port};
}

void ReportReadings::filled(int firstGroupNumber, std::span<const measure::MeasurementGroup> groups,
                            const QDateTime& time, int port) {
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const int row = firstGroupNumber + static_cast<int>(i) + 1;
        if (row > output::kHistRows) break;
        if (row < 1) continue;
        rows_[row] = views::ReportReading{groups[i], row, time, port};
    }
}

void ReportReadings::clearHistory() { rows_.clear(); }

ReportContent ReportReadings::content(bool live, const std::vector<int>& selectedRows,
                                      int histcount) const {
    ReportContent c;
    c.live = live;
    if (live) {
        if (shown_) c.chosen.push_back(*shown_);
        return c;
    }
    std::vector<int> rows = selectedRows;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const int row : rows) {
        if (const auto it = rows_.find(row); it != rows_.end()) c.chosen.push_back(it->second);
    }
    for (const auto& [row, reading] : rows_) {
        if (row <= histcount) c.downloaded.push_back(reading);
    }
    return c;
}

}  // namespace ck::app
