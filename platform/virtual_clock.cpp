// SPDX-License-Identifier: MIT
#include "platform/virtual_clock.h"

#include <algorithm>

namespace ck::platform {

class VirtualClock::VTimer final : public Timer {
public:
    explicit VTimer(VirtualClock* clock) : clock_(clock) {}
    ~VTimer() override {
        if (clock_) std::erase(clock_->timers_, this);
    }
    void setInterval(int ms) override {
        interval_ = std::max(0, ms);
        if (enabled_) arm();
    }
    int interval() const override { return interval_; }
    void setEnabled(bool on) override {
        if (on && !enabled_) arm();
        enabled_ = on;
    }
    bool enabled() const override { return enabled_; }
    void setHandler(std::function<void()> onTick) override { onTick_ = std::move(onTick); }

    void arm() {
        due_ = clock_->now_ + interval_;
        seq_ = clock_->seq_++;
    }

    VirtualClock* clock_;
    int interval_ = 0;
    bool enabled_ = false;
    int64_t due_ = 0;
    uint64_t seq_ = 0;
    std::function<void()> onTick_;
};

VirtualClock::~VirtualClock() {
    for (VTimer* t : timers_) t->clock_ = nullptr;
}

std::unique_ptr<Timer> VirtualClock::createTimer() {
    auto t = std::make_unique<VTimer>(this);
    timers_.push_back(t.get());
    return t;
}

VirtualClock::VTimer* VirtualClock::earliest() const {
    VTimer* best = nullptr;
    for (VTimer* t : timers_) {
        if (!t->enabled_ || t->interval_ == 0) continue;  // interval 0: a timer that never ticks
        if (!best || t->due_ < best->due_ || (t->due_ == best->due_ && t->seq_ < best->seq_)) {
            best = t;
        }
    }
    return best;
}

int64_t VirtualClock::nextDue() const {
    const VTimer* t = earliest();
    return t ? t->due_ : -1;
}

void VirtualClock::fire(VTimer* t) {
    now_ = std::max(now_, t->due_);
    t->arm();  // the next tick counts from this one, whatever the handler does
    if (t->onTick_) {
        auto handler = t->onTick_;  // the handler may replace itself or destroy the timer
        handler();
    }
}

bool VirtualClock::runPosted() {
    bool ran = false;
    while (!posted_.empty()) {
        auto fn = std::move(posted_.front());
        posted_.pop_front();
        fn();
        ran = true;
    }
    return ran;
}

void VirtualClock::advance(int64_t ms) {
    const int64_t target = now_ + std::max<int64_t>(0, ms);
    runPosted();
    for (VTimer* t = earliest(); t && t->due_ <= target; t = earliest()) {
        fire(t);
        runPosted();
    }
    now_ = target;
}

bool VirtualClock::step() {
    if (runPosted()) return true;
    VTimer* t = earliest();
    if (!t) return false;
    fire(t);
    runPosted();
    return true;
}

}  // namespace ck::platform
