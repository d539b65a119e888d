// SPDX-License-Identifier: MIT
#pragma once
// The user's clock standing at a time the test holds, and moves when it likes.

#include <QDateTime>

#include "platform/wall_clock.h"

namespace ck::testing {

class WallClockAt final : public platform::WallClock {
public:
    explicit WallClockAt(const QDateTime& now) : now_(now) {}
    platform::LocalTime now() const override {
        return platform::LocalTimeAt(now_.toMSecsSinceEpoch(), now_.offsetFromUtc() / 60);
    }

private:
    const QDateTime& now_;
};

}  // namespace ck::testing
