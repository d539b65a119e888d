// SPDX-License-Identifier: MIT
#pragma once
// Virtual time for tests and simulations: timers fire in time order as the owner advances the
// clock, and nothing waits for real time.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/timer.h"

namespace ck::platform {

class VirtualClock final : public TimerService {
public:
    VirtualClock() = default;
    ~VirtualClock() override;
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;

    std::unique_ptr<Timer> createTimer() override;
    int64_t nowMs() const override { return now_; }
    // Posted work runs at the current time, before any tick that is due later.
    void post(std::function<void()> fn) override { posted_.push_back(std::move(fn)); }

    // Fires, in time order, every tick due up to now + ms, then sets the time to now + ms.
    // Ticks that fall on the same moment fire in the order their timers were armed.
    void advance(int64_t ms);
    // Runs posted work, then advances to the next due tick and fires it; false when nothing
    // was posted and no timer is enabled.
    bool step();
    // Time of the next due tick, or -1 when no timer is enabled.
    int64_t nextDue() const;

private:
    class VTimer;
    friend class VTimer;
    VTimer* earliest() const;
    void fire(VTimer* t);
    bool runPosted();

    int64_t now_ = 0;
    uint64_t seq_ = 0;
    std::vector<VTimer*> timers_;
    std::deque<std::function<void()>> posted_;
};

}  // namespace ck::platform
