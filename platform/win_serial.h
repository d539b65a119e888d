// SPDX-License-Identifier: MIT
#pragma once
// The serial port on Windows, on the system's overlapped I/O: COMn is \\.\COMn, opened
// exclusively on the port's line (line.h), no flow control, no abort on error, DTR and RTS
// asserted. Written against the Win32 calls of win_serial_api.h and the
// platform's timers, with no Qt: the Qt side only watches event objects for it.
//
// Receiving needs no comm event: one overlapped ReadFile is always under way while the device
// is ours, for what ClearCommError reports waiting or else for one byte, with
// ReadIntervalTimeout = ReadTotalTimeoutMultiplier = MAXDWORD and a constant: the driver
// completes it as soon as a byte is there (or empty after the constant), and so does one that
// ignores that rule and waits for the whole count, as Wine's does. Every
// operation has its own OVERLAPPED, buffer and event, and they are reused only once the
// driver has finished with them; an operation that is cancelled is finished when its
// completion arrives, never waited for. Nothing waits on the calling thread, and the only
// timer is a retry of at least kRetryMs when a driver ends reads at once.
//
// A device is let go like this: queued output discarded, the comm mask cleared, every
// operation cancelled, and the handle closed once the last of them has ended. Opening the same
// COMn meanwhile takes that handle up again (Windows opens a serial port for one handle only,
// so a new CreateFile would find it taken by this very program).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/serial_port.h"
#include "platform/timer.h"
#include "platform/win_serial_api.h"

namespace ck::platform::win {

// Calls back when an event object is signalled, from the event loop, as long as it is watched.
// An event once watched may stay registered while unwatched, so the port resets every event
// it has seen signalled; forget() ends the registration, before the event is closed or left
// to a driver.
class EventWatch {
public:
    virtual ~EventWatch() = default;
    virtual void watch(Handle event, std::function<void()> onSignalled) = 0;
    virtual void unwatch(Handle event) = 0;
    virtual void forget(Handle event) = 0;
};

class WinSerial : public SerialPort {
public:
    // A read under way ends empty after this when nothing comes.
    static constexpr Dword kReadTimeoutMs = 250;
    // When a driver ends reads at once (empty, aborted, or many in a row), the next one starts
    // this much later rather than at once, so that it cannot spin.
    static constexpr int kRetryMs = 50;
    // Operations a device may have at once; beyond it, a driver that never finishes them gets
    // no more.
    static constexpr std::size_t kMaxOperations = 8;
    // What the destructor gives a driver, in all, to finish the operations it still owns.
    static constexpr Dword kDestroyWaitMs = 20;
    static constexpr std::size_t kReadChunk = 1024;
    static constexpr Dword kOutQueueSize = 512;

    // clockUs stamps arrivals; MonotonicNowUs when empty.
    WinSerial(SerialApi& api, TimerService& timers, EventWatch& watch,
              std::function<int64_t()> clockUs = {});
    ~WinSerial() override;

    int64_t nowUs() const override { return clockUs_ ? clockUs_() : MonotonicNowUs(); }
    // Devices whose handle is still open: the one in use or kept, and those being let go.
    std::size_t devicesHeld() const { return devices_.size(); }

protected:
    int doOpen(int16_t port) override;
    void doClose() override;
    bool doResume(int16_t port) override;
    bool doWrite(std::span<const uint8_t> bytes) override;
    void doDiscardQueuedOutput() override;
    void doPollInput() override;
    void postReceiveEvent() override;

private:
    struct Operation;
    struct Device;

    Dword configure(Handle h);
    Operation* freeOperation(Device& d, bool read);
    void begin(Operation& op);
    void startRead(Device& d);
    bool readWanted(const Device& d) const;
    void readEnded(Device& d, Operation& op, Dword error, Dword got);
    void onSignalled(Device& d, Operation& op);
    void check(Device& d, Operation& op);
    void finish(Device& d, Operation& op, Dword error, Dword got);
    void afterEnd(Device& d);
    void letGo(Device& d);
    void closeDevice(Device& d);
    void retry();
    bool held(const Device* d) const;

    SerialApi& api_;
    TimerService& timers_;
    EventWatch& watch_;
    std::function<int64_t()> clockUs_;
    std::vector<std::unique_ptr<Device>> devices_;
    Device* current_ = nullptr;  // open, or kept under hold
    std::unique_ptr<Timer> retry_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace ck::platform::win
