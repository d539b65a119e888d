// SPDX-License-Identifier: MIT
#pragma once
// The serial port on Windows: the system's overlapped I/O of platform/win_serial.h, with its
// event objects watched by the Qt event loop.
//
// QSerialPort is not used here. Qt 6.4 learns that its WaitCommEvent has ended through an I/O
// completion port, and Wine 8 never reports that event there (reads and writes it does
// report), so under Wine QSerialPort received nothing although the reply lay in the driver's
// queue. Overlapped reads with an event object of their own are what Windows documents and
// work on both.

#include <QObject>
#include <QWinEventNotifier>

#include <map>
#include <memory>

#include "platform/qt/qt_timer.h"
#include "platform/win_serial.h"

namespace ck::platform {

// One notifier per watched event; a notifier ends through the event loop, since it may be
// the one whose signal is being handled.
class QtEventWatch final : public win::EventWatch {
public:
    QtEventWatch() = default;
    QtEventWatch(const QtEventWatch&) = delete;
    QtEventWatch& operator=(const QtEventWatch&) = delete;
    ~QtEventWatch() override;

    void watch(win::Handle event, std::function<void()> onSignalled) override;
    void unwatch(win::Handle event) override;

private:
    struct Watched {
        QWinEventNotifier* notifier;
        std::shared_ptr<bool> live;  // false once unwatched: a signal already queued is dropped
    };
    std::map<win::Handle, Watched> watched_;
};

namespace detail {
// Built before the port and gone after it.
struct WinSerialParts {
    std::unique_ptr<win::SerialApi> api = win::SystemSerialApi();
    QtTimerService timers;
    QtEventWatch watch;
};
}  // namespace detail

class WinSerialPort final : private detail::WinSerialParts, public win::WinSerial {
public:
    WinSerialPort() : WinSerial(*api, timers, watch) {}
};

}  // namespace ck::platform
