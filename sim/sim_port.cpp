// SPDX-License-Identifier: MIT
#include "sim/sim_port.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace ck::sim {

SimPort::SimPort(platform::TimerService& timers, Instrument& instrument, int16_t instrumentPort)
    : timers_(timers),
      instrument_(instrument),
      instrumentPort_(instrumentPort),
      wake_(platform::makeTimer(timers, 1, [this] { arrive(); })),
      self_(std::make_shared<SimPort*>(this)) {}

void SimPort::setTransport(TransportKind kind, uint64_t seed) {
    transport_ = Transport(kind, seed);
    transport_.configure(instrument_);
}

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
    for (const Delivery& d : instrument_.feed(bytes, nowUs())) {
        transport_.send(nowUs() + d.delayUs, d);
    }
    wakeUp();
    return true;
}

void SimPort::scheduleDelivery(int64_t delayUs, std::vector<uint8_t> bytes) {
    Delivery d;
    d.delayUs = std::max<int64_t>(1, delayUs);
    d.bytes = std::move(bytes);
    transport_.send(nowUs() + d.delayUs, d);
    wakeUp();
}

void SimPort::wakeUp() {
    std::optional<int64_t> next = transport_.nextEventUs();
    if (const auto copy = instrument_.nextDueUs()) next = next ? std::min(*next, *copy) : *copy;
    if (!next) {
        wake_->setEnabled(false);
        return;
    }
    // The first whole millisecond at or after it, never sooner, and never inside this call.
    const int64_t ms = std::max<int64_t>(1, (*next - nowUs() + 999) / 1000);
    wake_->setEnabled(false);
    wake_->setInterval(static_cast<int>(std::min<int64_t>(ms, std::numeric_limits<int>::max())));
    wake_->setEnabled(true);
}

void SimPort::arrive() {
    wake_->setEnabled(false);
    for (const Delivery& d : instrument_.due(nowUs())) transport_.send(nowUs() + d.delayUs, d);
    for (Piece& p : transport_.release(nowUs())) {
        // Bytes reach a device that is open, also one the port keeps under hold while closed
        // (the port then hands them to whoever sees dropped bytes); on a closed device, or
        // another port, they are lost.
        if (!deviceOpen_ || openPort_ != instrumentPort_) continue;
        if (recording_) arrivals_.push_back({p.atUs, p.transmission, p.offset, p.bytes.size()});
        deliver(p.bytes, p.atUs);
    }
    wakeUp();
}

void SimPort::postReceiveEvent() {
    std::weak_ptr<SimPort*> self = self_;
    timers_.post([self] {
        if (auto s = self.lock(); s && *s) (*s)->raiseReceiveEvent();
    });
}

}  // namespace ck::sim
