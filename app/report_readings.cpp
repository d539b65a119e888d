// SPDX-License-Identifier: MIT
#include "app/report_readings.h"

#include <algorithm>

namespace ck::app {
namespace {

views::ReportReading StoredReading(const measure::HistoryTable& history, int row) {
    views::ReportReading r{*history.group(row), row, {}, 0};
    if (const auto from = history.downloaded(row)) {
        r.time = ToQDateTime(from->time);
        r.port = from->port;
    }
    return r;
}

}  // namespace

QDateTime ToQDateTime(const platform::LocalTime& t) {
    return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second),
                     Qt::OffsetFromUTC, t.utcOffsetMinutes * 60);
}

ReportContent ReportContentOf(const measure::LiveReading& live,
                              const measure::HistoryTable& history, bool liveView,
                              const std::vector<int>& selectedRows, int histcount) {
    ReportContent c;
    c.live = liveView;
    if (liveView) {
        // A reading has a time; the panel before the first one has none.
        if (live.time()) {
            c.chosen.push_back(
                views::ReportReading{live.values(), 0, ToQDateTime(*live.time()), live.port()});
        }
        return c;
    }
    std::vector<int> rows = selectedRows;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const int row : rows) {
        if (history.group(row) != nullptr) c.chosen.push_back(StoredReading(history, row));
    }
    const int last = std::min(histcount, measure::kHistoryRows);
    for (int row = 1; row <= last; ++row) {
        if (history.group(row) != nullptr) c.downloaded.push_back(StoredReading(history, row));
    }
    return c;
}

}  // namespace ck::app
