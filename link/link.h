#pragma once
// The instrument link: port discovery, polling, the history download and the reply time-out.
// It owns the link state record, its four timers and their handlers, and its place on the
// serial port's receive event. The window drives it through a few commands and reads its state;
// it reaches the window only through LinkControls.

#include <memory>

#include "link/link_controls.h"
#include "link/link_state.h"
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
inline constexpr const char* kTextNoHistory = "设备的测量历史记录组数为0！";

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

    const LinkState& state() const { return s_; }
    const platform::Timer& Timer_findcom() const { return *findcom_; }
    const platform::Timer& Timer_real() const { return *real_; }
    const platform::Timer& Timer_read() const { return *read_; }
    const platform::Timer& Timer_timeout() const { return *timeout_; }

    // One exchange's own steps, which the handlers below run: open the port, and send a
    // request. Tests and benchmarks call them to drive a single exchange.
    void ComOpen(int16_t comport);
    void ComSend(uint8_t address, uint8_t code, int16_t start, int16_t count, uint8_t extra);

private:
    void onDiscoveryTick();  // Timer_findcom, every 600 ms while searching
    void onPollTick();       // Timer_real, every 1.5 s
    void onDownloadTick();   // Timer_read, every 30 ms until the download can start
    void onReplyTimeout();   // Timer_timeout, 2.5 s after a request nothing answered
    void onBytesReceived();  // the port's receive event
    void ComParse();
    void onHistoryBlock(std::size_t n);
    void onHistoryCount(std::size_t n);
    void requestBlock();
    void endDownload();

    platform::SerialPort& port_;
    LinkControls& controls_;
    LinkState s_;
    // The reply of this exchange has begun to arrive but is not whole yet.
    bool awaitingRest_ = false;
    std::unique_ptr<platform::Timer> findcom_, real_, read_, timeout_;
};

}  // namespace ck::link
