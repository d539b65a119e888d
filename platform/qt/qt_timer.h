// SPDX-License-Identifier: MIT
#pragma once
// Timers and posted work on the Qt event loop of the calling thread.

#include <QObject>

#include "platform/timer.h"

namespace ck::platform {

class QtTimerService final : public TimerService {
public:
    QtTimerService() = default;
    QtTimerService(const QtTimerService&) = delete;
    QtTimerService& operator=(const QtTimerService&) = delete;

    std::unique_ptr<Timer> createTimer() override;
    int64_t nowMs() const override;
    // Work posted here and not yet run is dropped when the service is destroyed.
    void post(std::function<void()> fn) override;

private:
    QObject context_;
};

}  // namespace ck::platform
