#pragma once
// The instrument link: port discovery, polling, the history download and the reply time-out.
// It owns the link state record, its four timers and their handlers, and its place on the
// serial port's receive event. The window drives it through a few commands and reads its state;
// it reaches the window only through LinkControls.

#include <memory>
#include <string>

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
    // The first refusal of permission in a run is explained in a message box, once the
    // handler that met it has returned.
    void tellPermissionRefused(int16_t comport);

    platform::SerialPort& port_;
    platform::TimerService& timers_;
    LinkControls& controls_;
    LinkState s_;
    // The reply of this exchange has begun to arrive but is not whole yet.
    bool awaitingRest_ = false;
    bool downloading_ = false;
    bool stopped_ = false;
    bool permissionTold_ = false;
    // Work posted to the event loop runs only while the link that posted it still exists.
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
    std::unique_ptr<platform::Timer> findcom_, real_, read_, timeout_;
};

}  // namespace ck::link
