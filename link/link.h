#pragma once
// The instrument link: port discovery, polling, the history download, the reply time-out, and
// the handlers that the window wires to its timers, its serial port and the read command.

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
    void Form_Load();

    // The tab switch: the view it shows decides what polling asks for and whether a download
    // may start; polling is enabled in either view, and the view's control set applied.
    void setView(View view);

    void Timer_findcom_Timer();
    void Timer_real_Timer();
    void Timer_read_Timer();
    void Timer_timeout_Timer();
    void MSComm1_OnComm();
    void Button_read_Click();

    void ComOpen(int16_t comport);
    void ComSend(uint8_t address, uint8_t code, int16_t start, int16_t count, uint8_t extra);
    void ComParse();

    LinkState& state() { return s_; }
    const LinkState& state() const { return s_; }
    platform::SerialPort& MSComm1() { return port_; }
    platform::Timer& Timer_findcom() { return *findcom_; }
    platform::Timer& Timer_real() { return *real_; }
    platform::Timer& Timer_read() { return *read_; }
    platform::Timer& Timer_timeout() { return *timeout_; }

private:
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
