// SPDX-License-Identifier: MIT
#pragma once
// Timers as the window's timer controls behave: a fixed interval, an Enabled flag and a tick
// handler. Enabling a timer that is already enabled leaves its running countdown alone;
// changing the interval of an enabled timer restarts it.

#include <cstdint>
#include <functional>
#include <memory>

namespace ck::platform {

class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool on) = 0;
    virtual bool enabled() const = 0;
    virtual void setHandler(std::function<void()> onTick) = 0;
};

// Where timers come from, and what time it is for them.
class TimerService {
public:
    virtual ~TimerService() = default;
    virtual std::unique_ptr<Timer> createTimer() = 0;
    // Milliseconds since an arbitrary fixed origin.
    virtual int64_t nowMs() const = 0;
    // Runs fn from the event loop as soon as it is free, after what is already queued: an
    // event raised by a call must not run inside that call.
    virtual void post(std::function<void()> fn) = 0;
};

// A disabled timer with the given interval and handler.
inline std::unique_ptr<Timer> makeTimer(TimerService& service, int ms,
                                        std::function<void()> onTick) {
    auto t = service.createTimer();
    t->setInterval(ms);
    t->setHandler(std::move(onTick));
    return t;
}

}  // namespace ck::platform
