// SPDX-License-Identifier: MIT
#include "fake_win_driver.h"

#include <algorithm>
#include <cstring>

#include "link/protocol.h"

namespace ck::testing {

using namespace platform::win;  // the error codes and flags

namespace {

constexpr uintptr_t kStatusPending = 0x103;
constexpr uint8_t kPoison = 0xCD;
constexpr int kPumpRounds = 1000;

bool same(const Overlapped& a, const Overlapped& b) {
    return a.internal == b.internal && a.internalHigh == b.internalHigh && a.offset == b.offset &&
           a.offsetHigh == b.offsetHigh && a.event == b.event;
}

}  // namespace

FakeWinDriver::FakeWinDriver(platform::VirtualClock& clock, sim::Instrument& instrument,
                             int16_t instrumentPort, DriverBehaviour behaviour)
    : clock_(clock), instrument_(instrument), instrumentPort_(instrumentPort), b_(behaviour) {}

FakeWinDriver::~FakeWinDriver() = default;

void FakeWinDriver::violation(const std::string& what) {
    if (std::find(violations_.begin(), violations_.end(), what) == violations_.end()) {
        violations_.push_back(what);
    }
}

void FakeWinDriver::call() {
    ++callsPerSecond_[clock_.nowMs() / 1000];
    audit();
}

win::Handle FakeWinDriver::newHandle() {
    nextHandle_ += 4;
    auto* h = reinterpret_cast<win::Handle>(nextHandle_);
    handles_.insert(h);
    return h;
}

FakeWinDriver::Device* FakeWinDriver::device(win::Handle h) {
    const auto it = devices_.find(h);
    return it == devices_.end() ? nullptr : &it->second;
}

FakeWinDriver::Op* FakeWinDriver::find(win::Overlapped* ov) {
    for (auto it = ops_.rbegin(); it != ops_.rend(); ++it) {
        if ((*it)->ov == ov) return it->get();
    }
    return nullptr;
}

std::size_t FakeWinDriver::owned() const {
    return static_cast<std::size_t>(
        std::count_if(ops_.begin(), ops_.end(), [](const auto& op) { return !op->done; }));
}

bool FakeWinDriver::ownsOverlapping(const void* p, std::size_t n) const {
    const auto* lo = static_cast<const uint8_t*>(p);
    for (const auto& op : ops_) {
        if (op->done) continue;
        const auto* ovLo = reinterpret_cast<const uint8_t*>(op->ov);
        const bool inOv = lo < ovLo + sizeof(Overlapped) && ovLo < lo + n;
        const bool inBuffer = lo < op->buffer + op->size && op->buffer < lo + n;
        if (inOv || inBuffer) return true;
    }
    return false;
}

void FakeWinDriver::audit() {
    for (const auto& op : ops_) {
        if (op->done) continue;
        if (!same(*op->ov, op->expected)) {
            violation("an OVERLAPPED changed while the driver owned it");
        }
        if (std::memcmp(op->buffer, op->image.data(), op->size) != 0) {
            violation("a buffer changed while the driver owned it");
        }
    }
}

void FakeWinDriver::complete(Op& op, win::Dword status, win::Dword count) {
    op.done = true;
    op.status = status;
    op.count = count;
    op.ov->internal = status;
    op.ov->internalHigh = count;
    if (const auto e = events_.find(op.ov->event); e != events_.end()) e->second = true;
}

bool FakeWinDriver::dtrAndRtsAsserted() const {
    for (const auto& [h, d] : devices_) {
        if (d.port == instrumentPort_) return d.dtr && d.rts;
    }
    return false;
}

int FakeWinDriver::busiestSecondCalls() const {
    int most = 0;
    for (const auto& [s, n] : callsPerSecond_) most = std::max(most, n);
    return most;
}

int FakeWinDriver::busiestSecondWakeUps() const {
    int most = 0;
    for (const auto& [s, n] : wakeUpsPerSecond_) most = std::max(most, n);
    return most;
}

win::Handle FakeWinDriver::createFile(const std::string& path, win::Dword& error) {
    call();
    const std::string prefix = "\\\\.\\COM";
    const int port = path.starts_with(prefix) ? std::stoi(path.substr(prefix.size())) : 0;
    if (port != instrumentPort_ || removedNow_) {
        error = kErrorFileNotFound;
        return nullptr;
    }
    const bool taken = std::any_of(devices_.begin(), devices_.end(),
                                   [&](const auto& d) { return d.second.port == port; });
    const auto closed = closedAtMs_.find(static_cast<int16_t>(port));
    const bool settling =
        closed != closedAtMs_.end() && clock_.nowMs() < closed->second + b_.deniedAfterCloseMs;
    if (taken || settling) {
        error = kErrorAccessDenied;
        return nullptr;
    }
    const win::Handle h = newHandle();
    devices_[h].port = static_cast<int16_t>(port);
    ++opens_;
    error = kOk;
    return h;
}

win::Dword FakeWinDriver::closeHandle(win::Handle h) {
    call();
    if (!handles_.erase(h)) {
        violation("a handle closed twice or never opened");
        return kErrorInvalidHandle;
    }
    if (events_.erase(h)) {
        if (registered_.contains(h))
            violation("an event closed while a notifier still waits on it");
        for (const auto& op : ops_) {
            if (!op->done && op->expected.event == h) {
                violation("an event closed while the driver owned its operation");
            }
        }
        return kOk;
    }
    if (Device* d = device(h)) {
        for (auto& op : ops_) {
            if (op->done || op->handle != h) continue;
            closedWithPending_ = true;
            // The system cancels what is under way; the memory stays the driver's until then.
            op->cancelling = true;
            op->dueMs = clock_.nowMs() + b_.cancelTakesMs;
            op->dueStatus = kErrorOperationAborted;
        }
        closedAtMs_[d->port] = clock_.nowMs();
        devices_.erase(h);
    }
    return kOk;
}

win::Dword FakeWinDriver::getCommState(win::Handle h, win::CommState& s) {
    call();
    const Device* d = device(h);
    if (!d) return kErrorInvalidHandle;
    if (d->removed) return b_.removedError;
    s = {};
    s.baudRate = 115200;  // whatever the last user left
    s.byteSize = 7;
    s.outxCtsFlow = true;
    s.xonChar = b_.xonEqualsXoff ? 0 : 0x11;
    s.xoffChar = b_.xonEqualsXoff ? 0 : 0x13;
    return kOk;
}

win::Dword FakeWinDriver::setCommState(win::Handle h, const win::CommState& s) {
    call();
    Device* d = device(h);
    if (!d) return kErrorInvalidHandle;
    if (d->removed) return b_.removedError;
    if (s.xonChar == s.xoffChar) return kErrorInvalidParameter;  // as documented
    const bool right = s.baudRate == 9600 && s.byteSize == 8 && s.parity == 0 && s.stopBits == 0 &&
                       s.binary && !s.parityCheck && !s.outxCtsFlow && !s.outxDsrFlow &&
                       !s.dsrSensitivity && !s.outX && !s.inX && !s.abortOnError && !s.nullStrip &&
                       !s.errorChar;
    if (!right) violation("line settings other than 9600 8N1, binary, no flow control");
    d->dtr = s.dtrControl == 1;
    d->rts = s.rtsControl == 1;
    return kOk;
}

win::Dword FakeWinDriver::setupComm(win::Handle h, win::Dword, win::Dword) {
    call();
    return device(h) ? kOk : kErrorInvalidHandle;
}

win::Dword FakeWinDriver::setCommTimeouts(win::Handle h, const win::CommTimeouts& t) {
    call();
    Device* d = device(h);
    if (!d) return kErrorInvalidHandle;
    if (d->removed) return b_.removedError;
    d->timeoutsRight = t.readIntervalTimeout == kMaxDword &&
                       t.readTotalTimeoutMultiplier == kMaxDword &&
                       t.readTotalTimeoutConstant > 0 && t.readTotalTimeoutConstant < kMaxDword;
    d->readTimeoutMs = t.readTotalTimeoutConstant;
    return kOk;
}

win::Dword FakeWinDriver::setCommMask(win::Handle h, win::Dword) {
    call();
    Device* d = device(h);
    if (!d) return kErrorInvalidHandle;
    return d->removed ? b_.removedError : kOk;
}

win::Dword FakeWinDriver::escapeCommFunction(win::Handle h, win::Dword f) {
    call();
    Device* d = device(h);
    if (!d) return kErrorInvalidHandle;
    if (d->removed) return b_.removedError;
    if (f == kSetDtr) d->dtr = true;
    if (f == kSetRts) d->rts = true;
    return kOk;
}

win::Dword FakeWinDriver::purgeComm(win::Handle h, win::Dword flags) {
    call();
    Device* d = device(h);
    if (!d) return kErrorInvalidHandle;
    if (d->removed) return b_.removedError;
    for (auto& op : ops_) {
        if (op->done || op->handle != h) continue;
        const bool abort = op->read ? (flags & kPurgeRxAbort) : (flags & kPurgeTxAbort);
        if (abort) complete(*op, kErrorOperationAborted, 0);
    }
    if (flags & kPurgeTxClear) d->stalledOutput.clear();
    if ((flags & kPurgeRxClear) && !d->input.empty()) {
        violation("received bytes purged before anyone read them");
        d->input.clear();
    }
    return kOk;
}

win::Dword FakeWinDriver::clearCommError(win::Handle h, win::CommStatus& status) {
    call();
    Device* d = device(h);
    if (!d) return kErrorInvalidHandle;
    if (d->removed) return b_.removedError;
    status = {0, static_cast<win::Dword>(d->input.size()),
              static_cast<win::Dword>(d->stalledOutput.size())};
    return kOk;
}

win::Dword FakeWinDriver::readFile(win::Handle h, void* buffer, win::Dword size,
                                   win::Overlapped& ov) {
    call();
    Device* d = device(h);
    if (!d) return kErrorInvalidHandle;
    if (ownsOverlapping(&ov, sizeof ov) || ownsOverlapping(buffer, size)) {
        violation("an OVERLAPPED or buffer the driver owns reused for a read");
        return kErrorInvalidParameter;
    }
    if (d->removed) return b_.removedError;
    if (!d->timeoutsRight) violation("a read without the time-outs that end it at a byte");
    std::erase_if(ops_, [&](const auto& op) { return op->done && op->ov == &ov; });
    auto op = std::make_unique<Op>();
    op->handle = h;
    op->read = true;
    op->ov = &ov;
    op->buffer = static_cast<uint8_t*>(buffer);
    op->size = size;
    op->image.assign(size, kPoison);
    std::memset(buffer, kPoison, size);
    ov.internal = kStatusPending;
    ov.internalHigh = 0;
    if (const auto e = events_.find(ov.event); e != events_.end()) e->second = false;
    op->expected = ov;
    Op& r = *op;
    ops_.push_back(std::move(op));
    mostOwned_ = std::max(mostOwned_, owned());
    ++reads_;
    if (b_.spuriousAbortEvery > 0 && reads_ % b_.spuriousAbortEvery == 0) {
        r.dueMs = clock_.nowMs() + 1;
        r.dueStatus = kErrorOperationAborted;
        return kErrorIoPending;
    }
    if (!d->input.empty() && (!b_.readsWaitForCount || d->input.size() >= size)) {
        feedReads(*d, h);
        return kOk;
    }
    if (b_.emptyReadsAtOnce) {
        complete(r, kOk, 0);
        return kErrorIoPending;
    }
    if (!b_.readsWaitForCount) {
        r.dueMs = clock_.nowMs() + d->readTimeoutMs;
        r.dueStatus = kOk;
    }
    return kErrorIoPending;
}

win::Dword FakeWinDriver::writeFile(win::Handle h, const void* bytes, win::Dword size,
                                    win::Overlapped& ov) {
    call();
    Device* d = device(h);
    if (!d) return kErrorInvalidHandle;
    if (ownsOverlapping(&ov, sizeof ov) || ownsOverlapping(bytes, size)) {
        violation("an OVERLAPPED or buffer the driver owns reused for a write");
        return kErrorInvalidParameter;
    }
    if (d->removed) return b_.removedError;
    std::erase_if(ops_, [&](const auto& op) { return op->done && op->ov == &ov; });
    auto op = std::make_unique<Op>();
    op->handle = h;
    op->read = false;
    op->ov = &ov;
    op->buffer = static_cast<uint8_t*>(const_cast<void*>(bytes));
    op->size = size;
    op->image.assign(op->buffer, op->buffer + size);
    ov.internal = kStatusPending;
    ov.internalHigh = 0;
    if (const auto e = events_.find(ov.event); e != events_.end()) e->second = false;
    op->expected = ov;
    if (b_.outputStallsAtMs >= 0 && clock_.nowMs() >= b_.outputStallsAtMs) {
        d->stalledOutput.insert(d->stalledOutput.end(), op->image.begin(), op->image.end());
    } else {
        op->dueMs = clock_.nowMs() + (protocol::LineTimeUs(size) + 999) / 1000;
        op->dueStatus = kOk;
    }
    ops_.push_back(std::move(op));
    mostOwned_ = std::max(mostOwned_, owned());
    return kErrorIoPending;
}

win::Dword FakeWinDriver::getOverlappedResult(win::Handle h, win::Overlapped& ov,
                                              win::Dword& transferred, bool wait) {
    call();
    Op* op = find(&ov);
    if (!op || op->handle != h) {
        violation("a result asked for an operation the driver never had on that handle");
        return kErrorInvalidParameter;
    }
    if (!op->done) {
        if (wait) violation("a wait on the caller's thread for an operation under way");
        return kErrorIoIncomplete;
    }
    transferred = op->count;
    return op->status;
}

win::Dword FakeWinDriver::cancelIoEx(win::Handle h, win::Overlapped& ov) {
    call();
    Op* op = find(&ov);
    if (!op || op->handle != h || op->done) return kErrorNotFound;
    if (b_.cancelTakesMs > 0) {
        op->cancelling = true;
        op->dueMs = clock_.nowMs() + b_.cancelTakesMs;
        op->dueStatus = kErrorOperationAborted;
    } else {
        complete(*op, kErrorOperationAborted, 0);
    }
    return kOk;
}

win::Handle FakeWinDriver::createEvent() {
    call();
    const win::Handle e = newHandle();
    events_[e] = false;
    return e;
}

win::Dword FakeWinDriver::resetEvent(win::Handle event) {
    call();
    const auto e = events_.find(event);
    if (e == events_.end()) return kErrorInvalidHandle;
    e->second = false;
    return kOk;
}

win::Dword FakeWinDriver::waitForEvent(win::Handle event, win::Dword ms) {
    call();
    if (ms > 20) violation("a wait of more than 20 ms on the caller's thread");
    const auto e = events_.find(event);
    if (e == events_.end()) return kErrorInvalidHandle;
    return e->second ? kOk : kWaitTimeout;
}

void FakeWinDriver::watch(win::Handle event, std::function<void()> onSignalled) {
    registered_[event] = {std::move(onSignalled), true};
}

void FakeWinDriver::unwatch(win::Handle event) {
    if (const auto it = registered_.find(event); it != registered_.end())
        it->second.watched = false;
}

void FakeWinDriver::forget(win::Handle event) { registered_.erase(event); }

void FakeWinDriver::feedReads(Device& d, win::Handle h) {
    for (auto& op : ops_) {
        if (d.input.empty()) return;
        if (op->done || op->cancelling || !op->read || op->handle != h) continue;
        if (b_.readsWaitForCount && d.input.size() < op->size) return;
        const auto n = std::min<std::size_t>(op->size, d.input.size());
        std::memcpy(op->buffer, d.input.data(), n);
        d.input.erase(d.input.begin(), d.input.begin() + static_cast<std::ptrdiff_t>(n));
        complete(*op, kOk, static_cast<win::Dword>(n));
    }
}

void FakeWinDriver::due() {
    const int64_t now = clock_.nowMs();
    if (b_.removeAtMs >= 0 && now >= b_.removeAtMs && !removedNow_) {
        removedNow_ = true;
        for (auto& [h, d] : devices_) d.removed = true;
        for (auto& op : ops_) {
            if (!op->done && device(op->handle)) complete(*op, b_.removedError, 0);
        }
    }
    for (auto it = arrivals_.begin(); it != arrivals_.end() && it->first <= now;) {
        for (auto& [h, d] : devices_) {
            if (d.port != instrumentPort_ || d.removed) continue;
            d.input.insert(d.input.end(), it->second.begin(), it->second.end());
            feedReads(d, h);
        }
        it = arrivals_.erase(it);
    }
    for (std::size_t i = 0; i < ops_.size(); ++i) {
        Op& op = *ops_[i];
        if (op.done || op.dueMs < 0 || op.dueMs > now) continue;
        if (!op.read && op.dueStatus == kOk) {
            // On the line: the instrument hears it and answers on its own time.
            for (auto& delivery : instrument_.feed({op.image.data(), op.size}, now * 1000)) {
                arrivals_.emplace(now + (delivery.delayUs + 999) / 1000, std::move(delivery.bytes));
            }
            complete(op, kOk, op.size);
        } else {
            complete(op, op.dueStatus, 0);
        }
    }
}

void FakeWinDriver::pump() {
    for (int round = 0; round < kPumpRounds; ++round) {
        std::vector<win::Handle> ready;
        for (const auto& [e, r] : registered_) {
            if (const auto s = events_.find(e); s != events_.end() && s->second) ready.push_back(e);
        }
        if (ready.empty()) return;
        for (const win::Handle e : ready) {
            const auto it = registered_.find(e);
            if (it == registered_.end()) continue;
            ++wakeUpsPerSecond_[clock_.nowMs() / 1000];
            if (!it->second.watched) continue;
            auto fn = it->second.fn;  // the call may unwatch it
            fn();
        }
    }
    violation("a busy loop: a registered event stays signalled");
}

void FakeWinDriver::step() {
    due();
    pump();
    clock_.advance(0);
    pump();
    clock_.advance(1);
    audit();
}

void FakeWinDriver::run(int64_t ms, const std::function<bool()>& until) {
    for (int64_t i = 0; i < ms; ++i) {
        if (until && until()) return;
        step();
    }
}

}  // namespace ck::testing
