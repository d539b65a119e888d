// SPDX-License-Identifier: MIT
#include "platform/wall_clock.h"

#include <chrono>

namespace ck::platform {

LocalTime LocalTimeAt(int64_t unixMs, int utcOffsetMinutes) {
    using namespace std::chrono;
    const auto local = sys_time<milliseconds>(milliseconds(unixMs)) + minutes(utcOffsetMinutes);
    // floor, not a cast: an instant before 1970 still falls into the second and day it is in.
    const auto day = floor<days>(local);
    const year_month_day ymd(day);
    const hh_mm_ss<seconds> tod(floor<seconds>(local) - day);
    LocalTime t;
    t.year = static_cast<int>(ymd.year());
    t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.hour = static_cast<int>(tod.hours().count());
    t.minute = static_cast<int>(tod.minutes().count());
    t.second = static_cast<int>(tod.seconds().count());
    t.utcOffsetMinutes = utcOffsetMinutes;
    return t;
}

}  // namespace ck::platform
