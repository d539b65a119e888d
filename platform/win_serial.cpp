// SPDX-License-Identifier: MIT
#include "platform/win_serial.h"

#include <algorithm>
#include <utility>

#include "platform/line.h"
#include "platform/windows_com.h"

namespace ck::platform::win {

struct WinSerial::Operation {
    bool read = true;
    Overlapped ov;
    Handle event = nullptr;
    std::vector<uint8_t> buffer;
    bool pending = false;
    bool cancelled = false;
    int64_t startedUs = 0;
};

struct WinSerial::Device {
    Handle handle = nullptr;
    int16_t port = 0;
    bool failed = false;
    bool closing = false;
    std::vector<std::unique_ptr<Operation>> ops;

    bool anyPending() const {
        return std::any_of(ops.begin(), ops.end(), [](const auto& op) { return op->pending; });
    }
};

namespace {

// Operations a driver never finished by the time their port object went: their OVERLAPPED
// and buffer stay valid for the rest of the process, since the driver may still write into
// them. Reachable on purpose, so that leak checkers do not count them.
std::vector<std::unique_ptr<void, void (*)(void*)>>& parked() {
    static auto* list = new std::vector<std::unique_ptr<void, void (*)(void*)>>();
    return *list;
}

// Back-to-back reads that end at once before the event loop gets a turn.
constexpr int kReadsAtOnce = 16;

}  // namespace

WinSerial::WinSerial(SerialApi& api, TimerService& timers, EventWatch& watch,
                     std::function<int64_t()> clockUs)
    : api_(api), timers_(timers), watch_(watch), clockUs_(std::move(clockUs)) {
    retry_ = makeTimer(timers_, kRetryMs, [this] { retry(); });
}

WinSerial::~WinSerial() {
    *alive_ = false;
    retry_->setEnabled(false);
    if (current_) {
        Device* d = current_;
        current_ = nullptr;
        api_.purgeComm(d->handle, kPurgeTxAbort | kPurgeTxClear);
        letGo(*d);
    }
    // What is still under way gets one bounded wait in all; what has not ended after it stays
    // the driver's.
    Dword budget = kDestroyWaitMs;
    for (auto& d : devices_) {
        for (auto& op : d->ops) {
            if (!op->pending) continue;
            watch_.unwatch(op->event);
            if (api_.waitForEvent(op->event, budget) == kOk) {
                Dword got = 0;
                if (api_.getOverlappedResult(d->handle, op->ov, got, false) != kErrorIoIncomplete) {
                    op->pending = false;
                }
            }
            budget = 0;
        }
    }
    for (auto& d : devices_) {
        for (auto& op : d->ops) {
            watch_.forget(op->event);
            if (op->pending) {
                parked().emplace_back(op.release(),
                                      [](void* p) { delete static_cast<Operation*>(p); });
            } else {
                api_.closeHandle(op->event);
            }
        }
        api_.closeHandle(d->handle);
    }
}

int WinSerial::doOpen(int16_t port) {
    for (auto& d : devices_) {
        if (d->closing && d->port == port && !d->failed) {
            d->closing = false;
            current_ = d.get();
            startRead(*d);
            return kPortOk;
        }
    }
    Dword error = kOk;
    const Handle h = api_.createFile(WindowsComPath(port), error);
    if (!h) return OpenErrorFromWindows(error ? error : kErrorInvalidHandle);
    if (const Dword why = configure(h); why != kOk) {
        api_.closeHandle(h);
        return OpenErrorFromWindows(why);
    }
    auto d = std::make_unique<Device>();
    d->handle = h;
    d->port = port;
    current_ = d.get();
    devices_.push_back(std::move(d));
    // What the driver holds already is read at once; the port not being open yet, the base
    // class discards it.
    startRead(*current_);
    return kPortOk;
}

Dword WinSerial::configure(Handle h) {
    CommState s;
    if (const Dword e = api_.getCommState(h, s); e != kOk) return e;
    static_assert(kLineStopBits == 1, "stopBits 0 below is ONESTOPBIT");
    s.baudRate = static_cast<Dword>(kLineBaud);
    s.byteSize = static_cast<uint8_t>(kLineDataBits);
    s.parity = 0;
    s.stopBits = 0;
    s.binary = true;
    s.parityCheck = false;
    s.outxCtsFlow = false;
    s.outxDsrFlow = false;
    s.dtrControl = 1;
    s.dsrSensitivity = false;
    s.txContinueOnXoff = true;
    s.outX = false;
    s.inX = false;
    s.errorChar = false;
    s.nullStrip = false;
    s.rtsControl = 1;
    s.abortOnError = false;
    // SetCommState refuses a DCB whose XonChar equals its XoffChar, which some drivers hand
    // out; flow control is off, but the pair must still differ.
    s.xonChar = 0x11;
    s.xoffChar = 0x13;
    if (const Dword e = api_.setCommState(h, s); e != kOk) return e;
    api_.setupComm(h, SerialPort::kInBufferSize, kOutQueueSize);  // a wish the driver may ignore
    const CommTimeouts t{kMaxDword, kMaxDword, kReadTimeoutMs, 0, 0};
    if (const Dword e = api_.setCommTimeouts(h, t); e != kOk) return e;
    // Asserted as a Linux port is on opening; an RS-485 converter keyed by RTS depends on it.
    // The DCB has asked for both already; a port without modem lines (a pseudo-terminal under
    // Wine, some virtual ports) refuses these with ERROR_NOT_SUPPORTED and works all the same.
    api_.escapeCommFunction(h, kSetDtr);
    api_.escapeCommFunction(h, kSetRts);
    return kOk;
}

WinSerial::Operation* WinSerial::freeOperation(Device& d, bool read) {
    for (auto& op : d.ops) {
        if (!op->pending && op->read == read) return op.get();
    }
    if (d.ops.size() >= kMaxOperations) return nullptr;
    const Handle event = api_.createEvent();
    if (!event) return nullptr;
    auto op = std::make_unique<Operation>();
    op->read = read;
    op->event = event;
    if (read) op->buffer.resize(kReadChunk);
    d.ops.push_back(std::move(op));
    return d.ops.back().get();
}

void WinSerial::begin(Operation& op) {
    op.ov = Overlapped{};
    op.ov.event = op.event;
    op.cancelled = false;
    op.startedUs = nowUs();
    // No ResetEvent: ReadFile and WriteFile reset the event as they begin, and every completion
    // seen has reset it already; under Wine each call is a trip to its server.
}

bool WinSerial::readWanted(const Device& d) const {
    if (&d != current_ || d.failed || d.closing || retry_->enabled()) return false;
    return std::none_of(d.ops.begin(), d.ops.end(),
                        [](const auto& op) { return op->read && op->pending && !op->cancelled; });
}

void WinSerial::startRead(Device& d) {
    for (int n = 0; n < kReadsAtOnce; ++n) {
        if (!readWanted(d)) return;
        Operation* op = freeOperation(d, true);
        if (!op) return;
        // What is waiting, at once; otherwise one byte, which ends the read as soon as it
        // comes, whether or not the driver honours the time-outs' first-byte rule (Wine's
        // does not: it waits for the whole count).
        CommStatus status;
        const Dword waiting = api_.clearCommError(d.handle, status) == kOk ? status.inQueue : 0;
        const auto want = static_cast<Dword>(std::clamp<std::size_t>(waiting, 1, kReadChunk));
        begin(*op);
        const Dword e = api_.readFile(d.handle, op->buffer.data(), want, op->ov);
        if (e == kErrorIoPending) {
            op->pending = true;
            watch_.watch(op->event, [this, &d, op] { onSignalled(d, *op); });
            return;
        }
        Dword got = 0;
        const Dword result = e == kOk ? api_.getOverlappedResult(d.handle, op->ov, got, false) : e;
        api_.resetEvent(op->event);
        readEnded(d, *op, result, got);
    }
    retry_->setEnabled(true);  // a driver with no end of bytes: let the event loop run
}

void WinSerial::readEnded(Device& d, Operation& op, Dword error, Dword got) {
    // Bytes of a cancelled read count too: nothing received is thrown away unseen.
    if (got > 0) deliver({op.buffer.data(), std::min<std::size_t>(got, op.buffer.size())});
    if (error == kOk) {
        // Empty: its time-out, or a driver that ends reads at once without waiting for a byte.
        const bool early = nowUs() - op.startedUs < int64_t{kReadTimeoutMs} * 1000 / 2;
        if (got == 0 && early) retry_->setEnabled(true);
        return;
    }
    if (error == kErrorOperationAborted) {
        // Cancelled by us, or by a driver on its own (a line error, a purge): the device is
        // still there.
        if (!op.cancelled) retry_->setEnabled(true);
        return;
    }
    // Removed or broken (ERROR_BAD_COMMAND, ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE, ...): it
    // delivers nothing more, and the next opening opens it anew and says what became of it.
    d.failed = true;
}

void WinSerial::onSignalled(Device& d, Operation& op) {
    if (!op.pending) return;
    check(d, op);
}

void WinSerial::check(Device& d, Operation& op) {
    Dword got = 0;
    Dword e = api_.getOverlappedResult(d.handle, op.ov, got, false);
    if (e == kErrorIoIncomplete) {
        // Signalled by someone else: clear it, then look again, since the driver may have set
        // it in between.
        api_.resetEvent(op.event);
        e = api_.getOverlappedResult(d.handle, op.ov, got, false);
        if (e == kErrorIoIncomplete) return;
    }
    finish(d, op, e, got);
}

void WinSerial::finish(Device& d, Operation& op, Dword error, Dword got) {
    op.pending = false;
    watch_.unwatch(op.event);
    api_.resetEvent(op.event);
    if (op.read) {
        readEnded(d, op, error, got);
    } else if (error != kOk && error != kErrorOperationAborted) {
        d.failed = true;
    }
    afterEnd(d);
}

void WinSerial::afterEnd(Device& d) {
    if (d.closing) {
        if (!d.anyPending()) closeDevice(d);
        return;
    }
    startRead(d);
}

void WinSerial::letGo(Device& d) {
    d.closing = true;
    api_.setCommMask(d.handle, 0);
    for (auto& op : d.ops) {
        if (!op->pending) continue;
        op->cancelled = true;
        // ERROR_NOT_FOUND: it has ended already, and its completion is on its way.
        api_.cancelIoEx(d.handle, op->ov);
    }
    if (!d.anyPending()) closeDevice(d);
}

void WinSerial::closeDevice(Device& d) {
    for (auto& op : d.ops) {
        watch_.forget(op->event);
        api_.closeHandle(op->event);
    }
    api_.closeHandle(d.handle);
    if (current_ == &d) current_ = nullptr;
    std::erase_if(devices_, [&](const auto& p) { return p.get() == &d; });
}

void WinSerial::retry() {
    retry_->setEnabled(false);
    // Completions whose signal went missing are looked for here too. Looking may end a device
    // being let go, so each is looked up again before each look.
    std::vector<Device*> devices;
    for (auto& d : devices_) devices.push_back(d.get());
    for (Device* d : devices) {
        for (std::size_t k = 0; held(d) && k < d->ops.size(); ++k) {
            if (d->ops[k]->pending) check(*d, *d->ops[k]);
        }
    }
    if (current_) startRead(*current_);
}

bool WinSerial::held(const Device* d) const {
    return std::any_of(devices_.begin(), devices_.end(),
                       [d](const auto& p) { return p.get() == d; });
}

void WinSerial::doClose() {
    Device* d = current_;
    if (!d) return;
    current_ = nullptr;
    letGo(*d);
}

bool WinSerial::doResume(int16_t port) {
    if (!current_ || current_->failed || current_->port != port) return false;
    startRead(*current_);
    return true;
}

bool WinSerial::doWrite(std::span<const uint8_t> bytes) {
    Device* d = current_;
    if (!d || d->failed) return false;
    Operation* op = freeOperation(*d, false);
    if (!op) return false;  // a driver that finishes nothing gets nothing more
    op->buffer.assign(bytes.begin(), bytes.end());
    begin(*op);
    const auto size = static_cast<Dword>(op->buffer.size());
    const Dword e = api_.writeFile(d->handle, op->buffer.data(), size, op->ov);
    if (e == kErrorIoPending) {
        op->pending = true;
        watch_.watch(op->event, [this, d, op] { onSignalled(*d, *op); });
        return true;
    }
    Dword written = 0;
    const Dword result = e == kOk ? api_.getOverlappedResult(d->handle, op->ov, written, false) : e;
    api_.resetEvent(op->event);
    if (result != kOk) {
        if (result != kErrorOperationAborted) d->failed = true;
        return false;
    }
    return written == size;
}

void WinSerial::doDiscardQueuedOutput() {
    if (current_ && !current_->failed) {
        api_.purgeComm(current_->handle, kPurgeTxAbort | kPurgeTxClear);
    }
}

void WinSerial::doPollInput() {
    Device* d = current_;
    if (!d) return;
    for (std::size_t k = 0; current_ == d && k < d->ops.size(); ++k) {
        if (d->ops[k]->pending && d->ops[k]->read) check(*d, *d->ops[k]);
    }
}

void WinSerial::postReceiveEvent() {
    timers_.post([this, alive = std::weak_ptr<bool>(alive_)] {
        if (const auto a = alive.lock(); a && *a) raiseReceiveEvent();
    });
}

}  // namespace ck::platform::win
