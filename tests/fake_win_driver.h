// SPDX-License-Identifier: MIT
#pragma once
// A Win32 serial driver on the virtual clock, behind the same table of calls as the system's,
// with the instrument on one COM number. It behaves as Microsoft documents a driver and as real
// USB-serial drivers are known to misbehave (see Behaviour), and it checks the caller against
// the contract as it goes: an OVERLAPPED, a buffer or an event the driver still owns that is
// reused, changed or closed; a wait on the caller's thread; a handle closed with operations
// under way; bytes purged before anyone saw them; a DCB that SetCommState would refuse. Each
// call and each wake-up is counted per second of virtual time, so a busy loop shows.
//
// It is also the event loop's watch of event objects: pump() wakes for every registered event
// that is signalled, again and again while it stays so, as an enabled QWinEventNotifier does,
// and calls back the watched ones.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/virtual_clock.h"
#include "platform/win_serial.h"
#include "sim/instrument.h"

namespace ck::testing {

namespace win = platform::win;

struct DriverBehaviour {
    // Reads end at once with nothing, their event set, whatever the time-outs say.
    bool emptyReadsAtOnce = false;
    // Reads wait for their whole count, as Wine's do whatever the time-outs say.
    bool readsWaitForCount = false;
    // Every n-th read ends with ERROR_OPERATION_ABORTED a millisecond after it began, unasked.
    int spuriousAbortEvery = 0;
    // A cancelled operation ends this long after CancelIoEx (0: at once).
    int64_t cancelTakesMs = 0;
    // The device is pulled out at this moment (virtual ms, -1: never): what is under way ends
    // with removedError, so does every later call on its handle, and the COM number is gone.
    int64_t removeAtMs = -1;
    win::Dword removedError = win::kErrorGenFailure;
    // From this moment the adapter sends nothing more: writes stay under way, and the output
    // count never falls (-1: never).
    int64_t outputStallsAtMs = -1;
    // GetCommState hands out XonChar equal to XoffChar.
    bool xonEqualsXoff = false;
    // CreateFile is refused ACCESS_DENIED this long after the port's handle was closed.
    int64_t deniedAfterCloseMs = 0;
};

class FakeWinDriver final : public win::SerialApi, public win::EventWatch {
public:
    FakeWinDriver(platform::VirtualClock& clock, sim::Instrument& instrument,
                  int16_t instrumentPort, DriverBehaviour behaviour);
    ~FakeWinDriver() override;

    // One millisecond of virtual time: what falls due in the driver, the watched events that
    // are signalled, the work posted to the event loop, then the clock's own timers.
    void step();
    void run(int64_t ms, const std::function<bool()>& until = {});

    // What broke the contract, one line each.
    const std::vector<std::string>& violations() const { return violations_; }
    // Calls into the driver, and wake-ups of watched events, in the busiest virtual second.
    int busiestSecondCalls() const;
    int busiestSecondWakeUps() const;
    // Handles, events included, still open.
    std::size_t openHandles() const { return handles_.size(); }
    std::size_t openEvents() const { return events_.size(); }
    std::size_t openCount() const { return opens_; }
    // Whether DTR and RTS are asserted on the instrument's open handle.
    bool dtrAndRtsAsserted() const;
    // Operations the driver owns now, and the most it owned at once.
    std::size_t owned() const;
    std::size_t mostOwned() const { return mostOwned_; }
    // A device handle was closed with operations still under way.
    bool closedWithPending() const { return closedWithPending_; }

    // SerialApi
    win::Handle createFile(const std::string& path, win::Dword& error) override;
    win::Dword closeHandle(win::Handle h) override;
    win::Dword getCommState(win::Handle h, win::CommState& state) override;
    win::Dword setCommState(win::Handle h, const win::CommState& state) override;
    win::Dword setupComm(win::Handle h, win::Dword in, win::Dword out) override;
    win::Dword setCommTimeouts(win::Handle h, const win::CommTimeouts& t) override;
    win::Dword setCommMask(win::Handle h, win::Dword mask) override;
    win::Dword escapeCommFunction(win::Handle h, win::Dword f) override;
    win::Dword purgeComm(win::Handle h, win::Dword flags) override;
    win::Dword clearCommError(win::Handle h, win::CommStatus& status) override;
    win::Dword readFile(win::Handle h, void* buffer, win::Dword size, win::Overlapped& op) override;
    win::Dword writeFile(win::Handle h, const void* bytes, win::Dword size,
                         win::Overlapped& op) override;
    win::Dword getOverlappedResult(win::Handle h, win::Overlapped& op, win::Dword& transferred,
                                   bool wait) override;
    win::Dword cancelIoEx(win::Handle h, win::Overlapped& op) override;
    win::Handle createEvent() override;
    win::Dword resetEvent(win::Handle event) override;
    win::Dword waitForEvent(win::Handle event, win::Dword ms) override;

    // EventWatch
    void watch(win::Handle event, std::function<void()> onSignalled) override;
    void unwatch(win::Handle event) override;
    void forget(win::Handle event) override;

private:
    struct Op {
        win::Handle handle = nullptr;
        bool read = true;
        win::Overlapped* ov = nullptr;
        win::Overlapped expected;  // the OVERLAPPED as the driver left it
        uint8_t* buffer = nullptr;
        win::Dword size = 0;
        std::vector<uint8_t> image;  // what the buffer must hold while the driver owns it
        bool done = false;
        bool cancelling = false;
        win::Dword status = 0;
        win::Dword count = 0;
        int64_t dueMs = -1;  // when it ends by itself (a read's time-out, a write on the line)
        win::Dword dueStatus = 0;
    };
    struct Device {
        int16_t port = 0;
        bool removed = false;
        bool dtr = false, rts = false;
        bool timeoutsRight = false;
        win::Dword readTimeoutMs = 0;
        std::vector<uint8_t> input;
        std::vector<uint8_t> stalledOutput;
    };

    win::Handle newHandle();
    void call();
    void violation(const std::string& what);
    void audit();
    Device* device(win::Handle h);
    Op* find(win::Overlapped* ov);
    bool ownsOverlapping(const void* p, std::size_t n) const;
    void complete(Op& op, win::Dword status, win::Dword count);
    void feedReads(Device& d, win::Handle h);
    void due();
    void pump();

    platform::VirtualClock& clock_;
    sim::Instrument& instrument_;
    int16_t instrumentPort_;
    DriverBehaviour b_;
    uintptr_t nextHandle_ = 0x100;
    std::set<win::Handle> handles_;
    std::map<win::Handle, bool> events_;  // signalled
    std::map<win::Handle, Device> devices_;
    std::map<int16_t, int64_t> closedAtMs_;
    std::vector<std::unique_ptr<Op>> ops_;
    // Registered events, as Qt keeps them: signalled ones wake the loop, watched or not; only
    // watched ones are called back.
    struct Registration {
        std::function<void()> fn;
        bool watched = false;
    };
    std::map<win::Handle, Registration> registered_;
    std::multimap<int64_t, std::vector<uint8_t>> arrivals_;  // bytes towards the program
    std::map<int64_t, int> callsPerSecond_;
    std::map<int64_t, int> wakeUpsPerSecond_;
    std::vector<std::string> violations_;
    std::size_t opens_ = 0;
    std::size_t mostOwned_ = 0;
    int reads_ = 0;
    bool removedNow_ = false;
    bool closedWithPending_ = false;
};

}  // namespace ck::testing
