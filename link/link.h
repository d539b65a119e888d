// SPDX-License-Identifier: MIT
#pragma once
// The instrument link: port discovery, polling, the history download and the reply time-out.
// It owns the link state record, its timers and their handlers, its place on the serial port's
// receive event, and the reply arbiter, which alone decides which received bytes answer which
// request; the link acts on its decisions. The window drives it through a few commands and
// reads its state; the link tells it its phase and its events through LinkEvents.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/link_events.h"
#include "link/link_state.h"
#include "link/reply_arbiter.h"
#include "link/trace.h"
#include "platform/serial_port.h"
#include "platform/timer.h"

namespace ck::link {

inline constexpr int kFindcomMs = 600;
inline constexpr int kRealMs = 1500;
inline constexpr int kReadMs = 30;
inline constexpr int kTimeoutMs = 2500;

// Texts the link shows.
inline constexpr const char* kTextLinkOk = "通讯成功";
inline constexpr const char* kTextLinkFailed = "通讯失败";
// Port status texts: LabComsta after each opening of COMn, the number before them.
inline constexpr const char* kTextPortInUse = "被占用";
inline constexpr const char* kTextNoSuchPort = "无效";
inline constexpr const char* kTextNoPermission = "无权限";
inline constexpr const char* kTextOpenFailed = "打开失败";
inline constexpr const char* kTextPortOpened = "已打开";

// A download whose first opening of the port is refused as in use tries again at its next
// read ticks for this long: some USB drivers refuse the device for a moment after the
// program's own close of it, which a read clicked right after a poll meets.
inline constexpr int kDownloadOpenRetryMs = 500;

// Which of the window's two views is showing.
enum class View : uint8_t { Live, History };

class Link {
public:
    // The link wires itself to the port's receive event and creates its four timers.
    Link(platform::SerialPort& port, platform::TimerService& timers, LinkEvents& events);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The link's share of start-up: the record's start values, the time-out armed from the
    // start, and discovery enabled; the phase is Searching.
    void start();
    // The tab switch: the view it shows decides what polling asks for and whether a download
    // may start; polling is enabled in either view.
    void setView(View view);
    // The read command: in the history view, once the instrument has answered, polling stops
    // and the download starts as soon as no reply is awaited (the phase is DownloadAsked).
    // Does nothing otherwise.
    void requestDownload();
    // The close command: the port is closed and every timer of the link stops, so no request
    // is sent and no reply awaited from now on.
    void stop();
    // From an accepted read command until the download ends, however it ends.
    bool downloading() const { return downloading_; }

    const LinkState& state() const { return s_; }
    const platform::Timer& Timer_findcom() const { return *findcom_; }
    const platform::Timer& Timer_real() const { return *real_; }
    const platform::Timer& Timer_read() const { return *read_; }
    const platform::Timer& Timer_timeout() const { return *timeout_; }
    // Wakes the link when the reply arbiter has a deadline (a held repeat, a provisional block).
    const platform::Timer& holdTimer() const { return *hold_; }
    // Every decision about received bytes passes here as it is made (a communication trace
    // may print them); nothing when unset.
    void setDecisionObserver(ReplyArbiter::Observer observer) {
        decisionObserver_ = std::move(observer);
        watchDecisions();
    }
    // The communication trace: every request, every received frame or run of other bytes with
    // its verdict, and the port's events go to `sink` while it is set (null: off, and nothing
    // is built for it). Not to be called from inside the sink.
    void setTrace(TraceSink* sink);
    bool tracing() const { return trace_ != nullptr; }

    // One exchange's own steps, which the handlers below run: open the port, and send a
    // request. Tests and benchmarks call them to drive a single exchange.
    void ComOpen(int16_t comport);
    void ComSend(uint8_t address, uint8_t code, int16_t start, int16_t count, uint8_t extra);

private:
    // A request as sent, to send it again.
    struct Asked {
        uint8_t address = 0, code = 0;
        int16_t start = 0, count = 0;
        uint8_t extra = 0;
    };
    // A block of the download asked for; `again` when it is asked once more after its first
    // reply was retracted.
    struct Block {
        int16_t start = 0, count = 0;
        bool again = false;
    };

    void onDiscoveryTick();  // Timer_findcom, every 600 ms while searching
    void onPollTick();       // Timer_real, every 1.5 s
    void onDownloadTick();   // Timer_read, every 30 ms until the download can start
    void onReplyTimeout();   // Timer_timeout, 2.5 s after a request nothing answered
    void onBytesReceived();  // the port's receive event
    void onHoldExpired();    // hold_: the arbiter's deadline has come

    void send(const Asked& a, bool again);
    // Decisions of the arbiter are queued and acted on in order, outside the calls that made
    // them (a port's discard inside ComOpen must not act in the middle of it).
    void feed(std::vector<Decision> decisions);
    void settle();
    void act(const Decision& d);
    void pullInput();
    void armHold();
    void onTake(const Decision& d, bool provisional);
    void onCommit(const Decision& d);
    void onRetract(const Decision& d);
    void ComParse(std::size_t n, bool awaited, bool provisional);
    void onHistoryBlock(std::size_t n, bool provisional);
    void onHistoryCount(std::size_t n);
    bool requestNextBlock();
    void requestBlock(const Block& b);
    // Ends the download once every block has its rows; true when it did.
    bool endDownloadIfDone();
    // Groups the download fetches: those reported, up to the table's size.
    int tableCount() const { return std::min<int>(s_.histcount, kMaxHistRows); }
    void endDownload();
    void closeAfterReply();
    // ComOpen's two halves: the opening itself, and its outcome in the port status.
    int openPort(int16_t comport);
    void reportOpening(int16_t comport, int result);
    void enter(Phase phase);
    // The first refusal of permission in a run is reported once the handler that met it has
    // returned: a modal box opened inside ComOpen would run the next ticks in the middle of it.
    void tellPermissionRefused(int16_t comport);
    // Closes the port, and tells the trace.
    void closePort();
    void watchDecisions();
    void traceEvent(TraceKind kind, int16_t comport, int64_t stampUs,
                    std::span<const uint8_t> bytes = {}, Action action = Action::PassOver,
                    Reason reason = Reason::Noise);
    void traceDecision(const Decision& d, const DecidedBytes& covered);

    platform::SerialPort& port_;
    platform::TimerService& timers_;
    LinkEvents& events_;
    LinkState s_;
    ReplyArbiter arbiter_;
    std::deque<Decision> pending_;
    bool acting_ = false;

    // The exchange in progress.
    bool awaited_ = false;  // no reply taken yet, and the time-out has not fired
    Question current_;      // what the request outstanding asks
    Asked asked_;
    int16_t exchangePort_ = 0;  // the port the request went to
    uint32_t polls_ = 0;        // live requests so far: each asks about a new moment
    uint32_t downloads_ = 0;    // downloads so far: each asks about what is stored now

    // The download: the block asked for, blocks taken provisionally and waiting for their
    // rows to be committed, and blocks to be asked for again.
    bool downloading_ = false;
    // When the download first tried to open the port (-1: not yet).
    int64_t downloadOpenFromUs_ = -1;
    std::optional<Block> inFlight_;
    std::map<int16_t, std::vector<measure::MeasurementGroup>> provisionalRows_;
    std::deque<Block> askAgain_;

    bool stopped_ = false;
    bool permissionTold_ = false;
    // Work posted to the event loop runs only while the link that posted it still exists.
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);

    TraceSink* trace_ = nullptr;
    ReplyArbiter::Observer decisionObserver_;

    std::unique_ptr<platform::Timer> findcom_, real_, read_, timeout_, hold_;
};

}  // namespace ck::link
