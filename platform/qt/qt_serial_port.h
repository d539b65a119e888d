// SPDX-License-Identifier: MIT
#pragma once
// The serial port on QSerialPort: COMn resolved as com_resolver.h describes, opened at the
// protocol's line speed, 8 data bits, no parity, 1 stop bit, no flow control. No call waits
// for the line: writes go to the driver without blocking, and queued output is discarded, not
// drained, so a stalled adapter never holds up the window.

#include <QtGlobal>

#ifdef Q_OS_WIN
// Windows has a backend of its own (see win_serial_port.h); the program knows it by this name.
#include "platform/qt/win_serial_port.h"
namespace ck::platform {
using QtSerialPort = WinSerialPort;
}  // namespace ck::platform
#else

#include <QSerialPort>

#include <string>

#include "platform/qt/low_latency.h"
#include "platform/serial_port.h"

namespace ck::platform {

class QtSerialPort final : public SerialPort {
public:
    // ioctl: how the driver is asked for low-latency mode at each opening (Linux only).
    explicit QtSerialPort(SerialIoctl ioctl = SystemSerialIoctl());
    ~QtSerialPort() override;

    // What the driver said at the last opening.
    LowLatency lowLatency() const { return lowLatency_; }

protected:
    int doOpen(int16_t port) override;
    void doClose() override;
    bool doResume(int16_t port) override;
    bool doWrite(std::span<const uint8_t> bytes) override;
    void doDiscardQueuedOutput() override;
    void doPollInput() override;
    void postReceiveEvent() override;

private:
    int classifyOpenFailure(const std::string& path);
    // Reads what the device holds right now, without waiting, and hands it to deliver().
    void takeWaiting();

    QSerialPort port_;
    std::string path_;  // the device opened for the port number
    SerialIoctl ioctl_;
    LowLatency lowLatency_ = LowLatency::NotOffered;
    bool pinsReported_ = false;  // unreadable pins are told on stderr once
};

}  // namespace ck::platform

#endif  // Q_OS_WIN
