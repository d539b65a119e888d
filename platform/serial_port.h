// SPDX-License-Identifier: MIT
#pragma once
// The serial port as the link sees it: a port number, open/close with the control's error
// numbers, a receive threshold, write, read-all and an input purge. Backends (a real port, the
// simulated instrument) derive from SerialPort and only feed received bytes in; the counting
// and the receive event live here, once. Every received byte carries the time it was taken
// from the device, so that the link can tell a reply from bytes that came before its request.
//
// Nothing here waits for the line: a write hands the frame to the device and returns, output
// that earlier writes left queued (a stalled adapter) is discarded before the next write and
// on closing, and received bytes the port drops unread are handed to the discard handler
// first, so that whoever judges replies sees every byte the device gave.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace ck::platform {

// Microseconds on the system's steady clock.
int64_t MonotonicNowUs();

// Error numbers reported by open(); the link shows them as port status texts.
inline constexpr int kPortOk = 0;
inline constexpr int kErrNoSuchPort = 8002;
inline constexpr int kErrPortInUse = 8005;
// The system refused this user access to the device ("Permission denied", as the BASIC
// run-time numbers it).
inline constexpr int kErrPermissionDenied = 70;
// Any other failure (the pins cannot be read, the device will not take the settings, ...).
inline constexpr int kErrOpenFailed = 8015;

// What the backend knew about the last open() that failed, for telling the user how to fix
// it. Empty fields where it knows nothing.
struct OpenFailure {
    std::string device;   // the device COMn led to
    std::string account;  // kErrPermissionDenied: the user that was refused
    std::string group;    // kErrPermissionDenied: the group whose members may open the device
    std::string reason;   // as the system put it
};

// Value of commEvent() when bytes were received.
inline constexpr int kEvReceive = 2;

class SerialPort {
public:
    virtual ~SerialPort() = default;
    SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // CommPort: selects the port for the next open(); takes effect on the next open only.
    void setCommPort(int16_t n) { commPort_ = n; }
    int16_t commPort() const { return commPort_; }

    // PortOpen := true. Returns kPortOk or an error number; a port that was open is closed
    // first. Bytes left waiting from before, and what the device held on opening, go to the
    // discard handler, not to input().
    int open();
    // PortOpen := false. Bytes not yet read go to the discard handler; output still queued is
    // discarded, so closing never waits for a stalled line. On a port already closed, a device
    // kept by the hold is let go.
    void close();
    // Read PortOpen.
    bool isOpen() const { return open_; }
    // Why the last open() failed; all empty after one that succeeded.
    const OpenFailure& openFailure() const { return failure_; }

    // Hold: while on, close() keeps the device itself (and with it the exclusive hold another
    // program would find), and the next open() of the same port takes it up again instead of
    // opening it anew. For exchanges that follow each other at once, such as the blocks of one
    // download, where giving the device up and taking it again costs more than the line. To
    // the caller nothing changes: a closed port still drops what arrives, and every open()
    // still discards what arrived before it. Turned off, a device kept closed is let go.
    void setHold(bool on);

    // RThreshold: the receive event is raised once at least n bytes are waiting (0: never).
    void setRThreshold(int n);
    int rThreshold() const { return threshold_; }

    // Output: hands the bytes to the device to be transmitted in order, and returns without
    // waiting for the line; whatever earlier writes left queued is discarded first (the
    // control's OutBufferCount := 0, which never cuts short the frame just written). Returns
    // false when the port refuses (closed).
    bool output(std::span<const uint8_t> bytes);
    // Input: every waiting byte with the time it was taken from the device, removed from the
    // buffer.
    struct Received {
        std::vector<uint8_t> bytes;
        std::vector<int64_t> arrivedUs;  // one for each byte, on nowUs()'s clock
    };
    Received inputWithArrivals();
    // Asks the backend for bytes the device already holds, so that a decision made now sees
    // them even if their own event has not been handled yet.
    void pollInput();
    // Microseconds on a monotonic clock: the clock arrival times are stamped with. A byte is
    // only ever stamped late (a busy event loop, a driver that batches), never early. Real
    // ports take MonotonicNowUs(); the simulated ones their virtual clock.
    virtual int64_t nowUs() const { return MonotonicNowUs(); }
    // InBufferCount.
    std::size_t inBufferCount() const { return rx_.size(); }
    // InBufferCount := 0: the waiting bytes go to the discard handler.
    void purgeInput();
    // CommEvent of the event being handled.
    int commEvent() const { return commEvent_; }

    // The receive event (OnComm). Raised between other events, never from inside a call
    // made by the handler's owner.
    void setReceiveHandler(std::function<void()> handler) { onComm_ = std::move(handler); }
    const std::function<void()>& receiveHandler() const { return onComm_; }
    // Given every received byte the port drops unread (a purge, an opening, a closing, bytes a
    // kept device gives while the port is closed), with its arrival time, before it is dropped.
    // Called from inside the call that drops them.
    void setDiscardHandler(std::function<void(Received)> handler) {
        onDiscard_ = std::move(handler);
    }

    // Bytes that the receive buffer holds at most; when more come, what it holds goes to the
    // discard handler first.
    static constexpr std::size_t kInBufferSize = 1024;

protected:
    // Backend hooks.
    // Opens the device; bytes it already holds are handed to deliver() (the port is not open
    // yet, so they reach the discard handler, stamped before any request of this opening).
    virtual int doOpen(int16_t port) = 0;
    virtual void doClose() = 0;
    // Takes up again the device that a close() under hold kept for this port, handing what it
    // received in between to deliver(); false when it cannot (gone, failed, not supported),
    // and the port is then closed and opened anew.
    virtual bool doResume(int16_t /*port*/) { return false; }
    // Hands the bytes to the device without waiting for the line.
    virtual bool doWrite(std::span<const uint8_t> bytes) = 0;
    // Discards output that earlier writes left queued (in the backend and in the driver),
    // without waiting; called before each write and before closing. Nothing by default.
    virtual void doDiscardQueuedOutput() {}
    // Ask the backend to call raiseReceiveEvent() from its event loop, not from this stack.
    virtual void postReceiveEvent() = 0;

    // Called by doOpen() before it returns an error, with what it knows of the failure.
    void noteOpenFailure(OpenFailure f) { failure_ = std::move(f); }
    // Called by the backend with bytes that arrived: now, or at atUs. On a closed port (bytes
    // a kept device gave, or found waiting while opening) they go to the discard handler.
    void deliver(std::span<const uint8_t> bytes) { deliver(bytes, nowUs()); }
    void deliver(std::span<const uint8_t> bytes, int64_t atUs);
    // Reads what the device holds right now and delivers it; nothing by default.
    virtual void doPollInput() {}
    // Called by the backend from its event loop in answer to postReceiveEvent().
    void raiseReceiveEvent();

private:
    void maybePost();
    void discardInput();
    void releaseKept();

    int16_t commPort_ = 1;
    bool open_ = false;
    bool hold_ = false;
    // The device of openedPort_ is still open although the port is closed (hold).
    bool kept_ = false;
    int16_t openedPort_ = 0;
    int threshold_ = 0;
    int commEvent_ = 0;
    bool eventPending_ = false;
    std::vector<uint8_t> rx_;
    std::vector<int64_t> rxArrivedUs_;  // beside rx_, byte for byte
    std::function<void()> onComm_;
    std::function<void(Received)> onDiscard_;
    OpenFailure failure_;
};

}  // namespace ck::platform
