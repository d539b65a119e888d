// SPDX-License-Identifier: MIT
#include "sim/sim_port.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace ck::sim {

SimPort::SimPort(platform::TimerService& timers, Instrument& instrument, int16_t instrumentPort)
    : timers_(timers),
      instrument_(instrument),
      instrumentPort_(instrumentPort),
      self_(std::make_shared<SimPort*>(this)) {}

SimPort::~SimPort() { *self_ = nullptr; }

void SimPort::setPortBusy(int16_t n, bool busy) {
    if (busy) {
        busyPorts_.insert(n);
    } else {
        busyPorts_.erase(n);
    }
}

int SimPort::doOpen(int16_t port) {
    if (busyPorts_.contains(port)) return platform::kErrPortInUse;
    if (port != instrumentPort_ && !emptyPorts_.contains(port)) return platform::kErrNoSuchPort;
    openPort_ = port;
    deviceOpen_ = true;
    ++deviceOpens_;
    return platform::kPortOk;
}

bool SimPort::doWrite(std::span<const uint8_t> bytes) {
    const int64_t now = timers_.nowMs();
    written_.push_back(WrittenFrame{now, openPort_, {bytes.begin(), bytes.end()}});
    if (openPort_ != instrumentPort_) return true;  // nobody listening: the bytes are lost
    for (Delivery& d : instrument_.feed(bytes, nowUs())) {
        scheduleDelivery(d.delayUs, std::move(d.bytes));
    }
    return true;
}

void SimPort::scheduleDelivery(int64_t delayUs, std::vector<uint8_t> bytes) {
    reap();
    auto p = std::make_unique<Pending>();
    p->bytes = std::move(bytes);
    p->timer = timers_.createTimer();
    Pending* raw = p.get();
    const int64_t delayMs = (std::max<int64_t>(1, delayUs) + 999) / 1000;
    p->timer->setInterval(
        static_cast<int>(std::clamp<int64_t>(delayMs, 1, std::numeric_limits<int>::max())));
    p->timer->setHandler([this, raw] { arrive(*raw); });
    p->timer->setEnabled(true);
    pending_.push_back(std::move(p));
}

void SimPort::arrive(Pending& p) {
    if (p.done) return;
    p.done = true;
    p.timer->setEnabled(false);  // one shot; freed later, not inside its own tick
    // Bytes on the line arrive whenever the instrument's port is open, also after a reopening
    // (they were on their way); on a closed port, or another one, they are lost.
    if (isOpen() && openPort_ == instrumentPort_) deliver(p.bytes);
}

std::size_t SimPort::pendingDeliveries() const {
    return static_cast<std::size_t>(
        std::count_if(pending_.begin(), pending_.end(), [](const auto& p) { return !p->done; }));
}

void SimPort::reap() {
    std::erase_if(pending_, [](const auto& p) { return p->done; });
}

void SimPort::postReceiveEvent() {
    std::weak_ptr<SimPort*> self = self_;
    timers_.post([self] {
        if (auto s = self.lock(); s && *s) (*s)->raiseReceiveEvent();
    });
}

}  // namespace ck::sim
