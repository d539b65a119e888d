// SPDX-License-Identifier: MIT
#pragma once
// The time of day as the user's clock shows it, with its offset from UTC, for records that
// must say when they were taken.

#include <cstdint>

namespace ck::platform {

struct LocalTime {
    int year = 1970;
    int month = 1;             // 1..12
    int day = 1;               // 1..31
    int hour = 0;              // 0..23
    int minute = 0;            // 0..59
    int second = 0;            // 0..59
    int utcOffsetMinutes = 0;  // local minus UTC: +480 for China

    bool sameDate(const LocalTime& o) const {
        return year == o.year && month == o.month && day == o.day;
    }
    bool operator==(const LocalTime&) const = default;
};

// The local time `unixMs` milliseconds after 1970-01-01 00:00 UTC in a zone `utcOffsetMinutes`
// ahead of UTC (seconds truncated towards the past).
LocalTime LocalTimeAt(int64_t unixMs, int utcOffsetMinutes);

class WallClock {
public:
    virtual ~WallClock() = default;
    virtual LocalTime now() const = 0;
};

}  // namespace ck::platform
