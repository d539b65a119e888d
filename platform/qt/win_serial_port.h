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

// One notifier per event, made when it is first watched and kept, enabled, until the event is
// forgotten: Qt registers a wait with the system's thread pool for every enabling, which a
// read that ends at every byte would otherwise pay each time. A notifier ends through the
// event loop, since it may be the one whose signal is being handled.
class QtEventWatch final : public win::EventWatch {
public:
    QtEventWatch() = default;
    QtEventWatch(const QtEventWatch&) = delete;
    QtEventWatch& operator=(const QtEventWatch&) = delete;
    ~QtEventWatch() override;

    void watch(win::Handle event, std::function<void()> onSignalled) override;
    void unwatch(win::Handle event) override;
    void forget(win::Handle event) override;

private:
    struct Callback {
        std::function<void()> fn;
        bool live = false;  // false while unwatched: a signal then is dropped
    };
    struct Watched {
        QWinEventNotifier* notifier;
        std::shared_ptr<Callback> callback;
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
