// SPDX-License-Identifier: MIT
#include "platform/serial_port.h"

#include <algorithm>
#include <chrono>

namespace ck::platform {

int64_t MonotonicNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int SerialPort::open() {
    if (open_) close();
    discardInput();
    eventPending_ = false;
    failure_ = {};
    if (kept_ && openedPort_ == commPort_ && doResume(commPort_)) {
        kept_ = false;
    } else {
        releaseKept();
        const int err = doOpen(commPort_);
        if (err != kPortOk) return err;
    }
    open_ = true;
    openedPort_ = commPort_;
    return kPortOk;
}

void SerialPort::close() {
    if (!open_) {
        releaseKept();
        return;
    }
    // Whatever a stalled line still holds of earlier requests is not waited for.
    doDiscardQueuedOutput();
    if (hold_) {
        kept_ = true;
    } else {
        doClose();
    }
    open_ = false;
    discardInput();
    eventPending_ = false;
}

void SerialPort::setHold(bool on) {
    hold_ = on;
    if (!on && !open_) releaseKept();
}

void SerialPort::releaseKept() {
    if (!kept_) return;
    kept_ = false;
    doClose();
}

void SerialPort::setRThreshold(int n) {
    threshold_ = std::max(0, n);
    maybePost();
}

bool SerialPort::output(std::span<const uint8_t> bytes) {
    if (!open_) return false;
    doDiscardQueuedOutput();
    return doWrite(bytes);
}

SerialPort::Received SerialPort::inputWithArrivals() {
    Received out;
    out.bytes.swap(rx_);
    out.arrivedUs.swap(rxArrivedUs_);
    return out;
}

void SerialPort::pollInput() {
    if (open_) doPollInput();
}

void SerialPort::purgeInput() { discardInput(); }

void SerialPort::discardInput() {
    Received dropped;
    dropped.bytes.swap(rx_);
    dropped.arrivedUs.swap(rxArrivedUs_);
    if (!dropped.bytes.empty() && onDiscard_) onDiscard_(std::move(dropped));
}

void SerialPort::deliver(std::span<const uint8_t> bytes, int64_t atUs) {
    if (bytes.empty()) return;
    const auto dropUnread = [&] {
        if (onDiscard_)
            onDiscard_({{bytes.begin(), bytes.end()}, std::vector<int64_t>(bytes.size(), atUs)});
    };
    if (!open_) {
        dropUnread();
        return;
    }
    // A full buffer gives up what it holds rather than the newest bytes: the bytes reach the
    // discard handler in the order they came.
    if (rx_.size() + bytes.size() > kInBufferSize) {
        discardInput();
        if (bytes.size() > kInBufferSize) {
            dropUnread();
            return;
        }
    }
    rx_.insert(rx_.end(), bytes.begin(), bytes.end());
    rxArrivedUs_.insert(rxArrivedUs_.end(), bytes.size(), atUs);
    maybePost();
}

void SerialPort::maybePost() {
    if (!open_ || eventPending_ || threshold_ <= 0) return;
    if (rx_.size() < static_cast<std::size_t>(threshold_)) return;
    eventPending_ = true;
    postReceiveEvent();
}

void SerialPort::raiseReceiveEvent() {
    if (!eventPending_) return;  // closed or purged meanwhile
    eventPending_ = false;
    if (!open_ || threshold_ <= 0 || rx_.size() < static_cast<std::size_t>(threshold_)) return;
    commEvent_ = kEvReceive;
    // Bytes the handler leaves waiting raise no further event until more arrive, as on the
    // control; re-posting here would spin on a handler that does not read.
    if (onComm_) onComm_();
}

}  // namespace ck::platform
