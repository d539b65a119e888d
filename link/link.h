// SPDX-License-Identifier: MIT
#pragma once
// The instrument link: port discovery, polling, the history download and the reply time-out.
// It owns the link state record, its four timers and their handlers, and its place on the
// serial port's receive event. The window drives it through a few commands and reads its state;
// it reaches the window only through LinkControls.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/link_controls.h"
#include "link/link_state.h"
#include "platform/serial_port.h"
#include "platform/timer.h"

namespace ck::link {

inline constexpr int kFindcomMs = 600;
inline constexpr int kRealMs = 1500;
inline constexpr int kReadMs = 30;
inline constexpr int kTimeoutMs = 2500;

// Replies against bytes of earlier exchanges. A byte is 10 bit times at 9600 baud; a line
// running up to 5 % fast is allowed for, so that no reply is ever judged too early: 992 us.
inline constexpr int64_t kFastByteUs = 10'000'000 / (9600 * 105 / 100);
// A reply byte for byte the same as one taken for another question shortly before is held
// back this long beyond its own line time, for the reply that a late copy would stand in
// front of.
inline constexpr int kRepeatAllowanceMs = 200;
// How long taken and passed-over replies are remembered for that comparison.
inline constexpr int64_t kRepeatMemoryUs = 10'000'000;
// A repeated block or count, asked for again, is confirmed only by the same reply beginning
// as soon after the request as the instrument's recent replies, less this ...
inline constexpr int64_t kRepeatEarlyUs = 5'000;
// ... and no later than their median delay and this.
inline constexpr int64_t kRepeatLateUs = 30'000;

// Texts the link shows.
inline constexpr const char* kTextLinkOk = "通讯成功";
inline constexpr const char* kTextLinkFailed = "通讯失败";
inline constexpr const char* kTextNoHistory = "设备的测量历史记录组数为0！";
// Port status texts: LabComsta after each opening of COMn, the number before them.
inline constexpr const char* kTextPortInUse = "被占用";
inline constexpr const char* kTextNoSuchPort = "无效";
inline constexpr const char* kTextNoPermission = "无权限";
inline constexpr const char* kTextOpenFailed = "打开失败";
inline constexpr const char* kTextPortOpened = "已打开";

// The message that tells the user how to get the right to open a port the system refused:
// the device, the command that adds the account to the port's group, and that it counts
// only from the next login. Lines end in CR LF.
std::string PermissionAdvice(int16_t comport, const platform::OpenFailure& failure);

// Which of the window's two views is showing.
enum class View : uint8_t { Live, History };

class Link {
public:
    // The link wires itself to the port's receive event and creates its four timers.
    Link(platform::SerialPort& port, platform::TimerService& timers, LinkControls& controls);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The link's share of start-up: the record's start values, the start-up set, the time-out
    // armed from the start, and discovery enabled.
    void start();
    // The tab switch: the view it shows decides what polling asks for and whether a download
    // may start; polling is enabled in either view, and the view's control set applied.
    void setView(View view);
    // The read command: in the history view, once the instrument has answered, the controls
    // go busy, polling stops and the download starts as soon as no reply is awaited. Does
    // nothing otherwise.
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
    // The hold on a reply that repeats an earlier one (see kRepeatAllowanceMs).
    const platform::Timer& holdTimer() const { return *hold_; }

    // One exchange's own steps, which the handlers below run: open the port, and send a
    // request. Tests and benchmarks call them to drive a single exchange.
    void ComOpen(int16_t comport);
    void ComSend(uint8_t address, uint8_t code, int16_t start, int16_t count, uint8_t extra);

private:
    // One frame found in the bytes of the exchange, and what it is to the request.
    enum class Verdict : uint8_t {
        Answer,      // the reply to the request
        Repeat,      // could be the reply, or a late copy of an earlier one standing before it
        Stale,       // on its way before the request could have been heard
        NotAnAnswer  // its code does not answer the request
    };
    struct Remembered {
        std::vector<uint8_t> frame;
        uint32_t question = 0;  // kNoQuestion: passed over, it answered nothing asked
        int64_t atUs = 0;
    };

    void onDiscoveryTick();  // Timer_findcom, every 600 ms while searching
    void onPollTick();       // Timer_real, every 1.5 s
    void onDownloadTick();   // Timer_read, every 30 ms until the download can start
    void onReplyTimeout();   // Timer_timeout, 2.5 s after a request nothing answered
    void onBytesReceived();  // the port's receive event
    void onHoldExpired();    // hold_: no other reply came after a repeat
    // Takes the port's bytes into the exchange and looks at every frame that has become whole.
    void absorb(platform::SerialPort::Received in);
    void examine();
    // The verdict on the whole frame rx_[at, at + n), and for an answer how long after its
    // request was heard it began.
    Verdict judge(std::size_t at, std::size_t n, int64_t& delayUs) const;
    bool isRepeat(std::span<const uint8_t> frame) const;
    void remember(std::span<const uint8_t> frame, uint32_t question);
    void hold(std::span<const uint8_t> frame, std::size_t at);
    void restartHold();
    void spoilHold();
    void dropExchangeBytes();
    // The reply to the request: the exchange ends and the reply is acted on.
    void take(std::vector<uint8_t> frame);
    void ComParse(std::size_t n, bool awaited);
    void onHistoryBlock(std::size_t n);
    void onHistoryCount(std::size_t n);
    void requestBlock();
    void endDownload();
    // The first refusal of permission in a run is explained in a message box, once the
    // handler that met it has returned.
    void tellPermissionRefused(int16_t comport);

    platform::SerialPort& port_;
    platform::TimerService& timers_;
    LinkControls& controls_;
    LinkState s_;

    // The exchange in progress: what its request asked, when its reply could begin at the
    // earliest, and the bytes received since the request that may still hold it.
    bool awaited_ = false;      // no reply taken yet, and the time-out has not fired
    uint32_t question_ = 0;     // what the request asks; equal questions, equal answers
    uint32_t polls_ = 0;        // live requests so far: each asks about a new moment
    int16_t exchangePort_ = 0;  // the port the request went to
    int64_t earliestReplyUs_ = 0;
    int64_t heardUs_ = 0;      // when the request was heard whole on a line at its nominal pace
    std::vector<uint8_t> rx_;  // bytes from rxBase_ on
    std::vector<int64_t> rxArrivedUs_;  // when each arrived
    std::size_t rxBase_ = 0;            // bytes of the exchange dropped before rx_[0]
    std::size_t scanned_ = 0;           // start bytes before this have been looked at
    std::vector<std::size_t> partial_;  // frames begun and not yet whole, by where they begin
    std::optional<std::vector<uint8_t>> held_;  // a repeat waiting: is the line silent after it?
    std::size_t heldEnd_ = 0;                   // where it ended in the exchange's bytes
    bool spoiled_ = false;  // something other than a copy followed a repeat: none is taken
    std::deque<Remembered> remembered_;
    // The request as last sent, and the repeat it is being asked again to confirm.
    struct Asked {
        uint8_t address = 0, code = 0;
        int16_t start = 0, count = 0;
        uint8_t extra = 0;
    };
    Asked asked_;
    std::optional<std::vector<uint8_t>> confirming_;
    // How long after their requests were heard the last replies began, as near as their
    // arrival times tell.
    std::deque<int64_t> delaysUs_;
    // A download is under way: from the read command to its last reply or its failure.
    bool downloading_ = false;
    bool stopped_ = false;
    bool permissionTold_ = false;
    // Work posted to the event loop runs only while the link that posted it still exists.
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);

    std::unique_ptr<platform::Timer> findcom_, real_, read_, timeout_, hold_;
};

}  // namespace ck::link
