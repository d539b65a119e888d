// SPDX-License-Identifier: MIT
#include "platform/qt/qt_timer.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <memory>

namespace ck::platform {

namespace {

class QtTimer final : public Timer {
public:
    QtTimer() : timer_(new QTimer) {
        timer_->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer_, &QTimer::timeout, [this] { tick(); });
    }

    ~QtTimer() override {
        // A handler may destroy its own timer; the QTimer is still inside its timeout signal
        // then, so it goes once that has returned.
        *alive_ = false;
        if (ticking_ > 0) {
            timer_->disconnect();
            timer_->stop();
            timer_->deleteLater();
        } else {
            delete timer_;
        }
    }

    QtTimer(const QtTimer&) = delete;
    QtTimer& operator=(const QtTimer&) = delete;

    void setInterval(int ms) override {
        interval_ = std::max(0, ms);
        timer_->setInterval(interval_);
        if (enabled_) restart();
    }
    int interval() const override { return interval_; }

    void setEnabled(bool on) override {
        // QTimer::start() would restart a running countdown; an enabled timer keeps its own.
        if (on == enabled_) return;
        enabled_ = on;
        if (on) {
            restart();
        } else {
            timer_->stop();
        }
    }
    bool enabled() const override { return enabled_; }

    void setHandler(std::function<void()> onTick) override { onTick_ = std::move(onTick); }

private:
    void restart() {
        // Interval 0 is a timer that never ticks, not one that ticks on every loop pass.
        if (interval_ > 0) {
            timer_->start(interval_);
        } else {
            timer_->stop();
        }
    }

    void tick() {
        if (!onTick_) return;
        auto handler = onTick_;  // the handler may replace itself or destroy the timer
        const std::shared_ptr<bool> alive = alive_;
        ++ticking_;  // a modal loop inside the handler may tick this timer again
        handler();
        if (!*alive) return;
        --ticking_;
    }

    QTimer* timer_;
    int interval_ = 0;
    bool enabled_ = false;
    int ticking_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::function<void()> onTick_;
};

}  // namespace

std::unique_ptr<Timer> QtTimerService::createTimer() { return std::make_unique<QtTimer>(); }

int64_t QtTimerService::nowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void QtTimerService::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(&context_, std::move(fn), Qt::QueuedConnection);
}

}  // namespace ck::platform
