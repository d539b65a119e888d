// SPDX-License-Identifier: MIT
#pragma once
// The serial port on Windows, on the system's overlapped I/O: COMn is \\.\COMn, opened
// exclusively at 9600 baud, 8 data bits, no parity, 1 stop bit, no flow control, DTR and RTS
// on (as a Linux serial port is on opening), driver buffers of 1024 and 512 bytes.
//
// Received bytes are waited for with WaitCommEvent on an event object that the event loop
// watches; when it fires, every waiting byte is read at once. While the port is open, what is
// waiting is also read every kSweepMs: under Wine the wait sometimes does not end although
// bytes have come (without the sweep a 200-group download stalled on a block reply in two of
// three runs), and a few milliseconds more at 9600 baud cost nothing.
//
// QSerialPort is not used here. It learns of received bytes through a completion routine
// (APC) of the same wait; under Wine 8 that never ran, so readyRead never came although the
// reply lay in the driver's queue (ClearCommError counted it), and the program, waiting in
// vain, left each port at the next discovery tick. Event objects are what Windows documents
// for overlapped serial I/O and work on both.

#include <QObject>
#include <QTimer>
#include <QWinEventNotifier>

#include <windows.h>

#include <vector>

#include "platform/serial_port.h"

namespace ck::platform {

class WinSerialPort final : public SerialPort {
public:
    WinSerialPort();
    ~WinSerialPort() override;

    // How long a purge or a close waits at most for a written request to leave.
    static constexpr int kDrainTimeoutMs = 1000;
    // While the port is open, what is waiting is also looked at this often.
    static constexpr int kSweepMs = 10;

protected:
    int doOpen(int16_t port) override;
    void doClose() override;
    bool doWrite(std::span<const uint8_t> bytes) override;
    void doDrainOutput() override;
    void doPollInput() override { readWaiting(); }
    void postReceiveEvent() override;

private:
    bool configure();
    void armWait();
    void onWaitSignalled();
    void readWaiting();
    std::size_t waitingBytes() const;
    // Waits up to ms for the write in progress; true when none is left in progress.
    bool finishWrite(DWORD ms);
    // Ends an operation that is still in progress and waits for the system to let go of it;
    // returns the bytes it transferred.
    DWORD abandon(OVERLAPPED& op, HANDLE event, bool& pending);

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE waitEvent_ = nullptr;
    HANDLE readEvent_ = nullptr;
    HANDLE writeEvent_ = nullptr;
    // The system writes into these until their operation ends, so they live with the port.
    OVERLAPPED waitOp_{};
    OVERLAPPED readOp_{};
    OVERLAPPED writeOp_{};
    std::vector<uint8_t> reading_;
    DWORD eventMask_ = 0;
    bool waitPending_ = false;
    bool writePending_ = false;
    std::vector<uint8_t> writing_;  // the bytes of the write in progress, kept until it ends
    QWinEventNotifier notifier_;
    QTimer sweep_;
    QObject events_;  // queued receive events die with it
};

}  // namespace ck::platform
