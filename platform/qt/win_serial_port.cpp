// SPDX-License-Identifier: MIT
#include "platform/qt/win_serial_port.h"

#include <QMetaObject>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "platform/windows_com.h"

namespace ck::platform {
namespace {

constexpr DWORD kOutBufferSize = 512;
// A read with the timeouts set in configure() ends at once; this only bounds a driver that
// does not honour them.
constexpr DWORD kReadWaitMs = 100;
// What a cancelled operation is given to end.
constexpr DWORD kCancelWaitMs = 1000;
constexpr std::size_t kReadChunk = 4096;
constexpr int kWaitTries = 8;

HANDLE newEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

WinSerialPort::WinSerialPort()
    : waitEvent_(newEvent()),
      readEvent_(newEvent()),
      writeEvent_(newEvent()),
      reading_(kReadChunk) {
    notifier_.setHandle(waitEvent_);
    QObject::connect(&notifier_, &QWinEventNotifier::activated, &events_,
                     [this] { onWaitSignalled(); });
    sweep_.setInterval(kSweepMs);
    QObject::connect(&sweep_, &QTimer::timeout, &events_, [this] { readWaiting(); });
}

WinSerialPort::~WinSerialPort() {
    notifier_.setEnabled(false);
    doClose();
    for (HANDLE e : {waitEvent_, readEvent_, writeEvent_}) {
        if (e) CloseHandle(e);
    }
}

int WinSerialPort::doOpen(int16_t port) {
    doClose();
    if (!waitEvent_ || !readEvent_ || !writeEvent_) return kErrOpenFailed;
    const std::string path = WindowsComPath(port);
    handle_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return OpenErrorFromWindows(GetLastError());
    if (!configure()) {
        const DWORD why = GetLastError();
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return OpenErrorFromWindows(why);
    }
    // Whatever the device sent before this opening belongs to an exchange that is over.
    PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    notifier_.setEnabled(true);
    sweep_.start();
    armWait();
    return kPortOk;
}

bool WinSerialPort::configure() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle_, &dcb)) return false;
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handle_, &dcb)) return false;
    SetupComm(handle_, kInBufferSize, kOutBufferSize);  // a wish the driver may ignore
    // A read returns at once with what is waiting; a write has no time limit of its own (the
    // drain bounds how long anyone waits for it).
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(handle_, &timeouts)) return false;
    return SetCommMask(handle_, EV_RXCHAR) != FALSE;
}

void WinSerialPort::armWait() {
    // A wait that ends at once is begun again, a few times at most.
    for (int tries = 0; tries < kWaitTries && handle_ != INVALID_HANDLE_VALUE && !waitPending_;
         ++tries) {
        ResetEvent(waitEvent_);
        waitOp_ = OVERLAPPED{};
        waitOp_.hEvent = waitEvent_;
        eventMask_ = 0;
        if (!WaitCommEvent(handle_, &eventMask_, &waitOp_)) {
            // A port that can no longer wait (its device gone) delivers nothing more: the
            // request waiting for a reply ends in the link's time-out.
            if (GetLastError() != ERROR_IO_PENDING) return;
            waitPending_ = true;
        }
        // Bytes that arrived before the wait began raise no event: read them now.
        readWaiting();
    }
}

void WinSerialPort::onWaitSignalled() {
    if (handle_ == INVALID_HANDLE_VALUE || !waitPending_) return;
    DWORD unused = 0;
    if (!GetOverlappedResult(handle_, &waitOp_, &unused, FALSE) &&
        GetLastError() == ERROR_IO_INCOMPLETE) {
        return;  // a signal left over from a wait that has since been begun again
    }
    waitPending_ = false;
    // Whatever the event mask says (Wine reports 0), look at what is waiting.
    readWaiting();
    armWait();
}

std::size_t WinSerialPort::waitingBytes() const {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &errors, &status)) return 0;
    return status.cbInQue;
}

void WinSerialPort::readWaiting() {
    for (std::size_t waiting = waitingBytes(); waiting > 0 && handle_ != INVALID_HANDLE_VALUE;
         waiting = waitingBytes()) {
        const DWORD size = static_cast<DWORD>(std::min(waiting, reading_.size()));
        readOp_ = OVERLAPPED{};
        readOp_.hEvent = readEvent_;
        ResetEvent(readEvent_);
        DWORD got = 0;
        if (!ReadFile(handle_, reading_.data(), size, &got, &readOp_)) {
            if (GetLastError() != ERROR_IO_PENDING) return;
            bool pending = true;
            if (WaitForSingleObject(readEvent_, kReadWaitMs) != WAIT_OBJECT_0) {
                got = abandon(readOp_, readEvent_, pending);  // what it read before it stopped
                if (got > 0) deliver({reading_.data(), got});
                return;
            }
            if (!GetOverlappedResult(handle_, &readOp_, &got, FALSE)) return;
        }
        if (got == 0) return;
        deliver({reading_.data(), got});
    }
}

bool WinSerialPort::doWrite(std::span<const uint8_t> bytes) {
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    // One request at a time: the one before is on the line within milliseconds.
    if (!finishWrite(kDrainTimeoutMs)) return false;
    writing_.assign(bytes.begin(), bytes.end());
    writeOp_ = OVERLAPPED{};
    writeOp_.hEvent = writeEvent_;
    ResetEvent(writeEvent_);
    DWORD written = 0;
    if (WriteFile(handle_, writing_.data(), static_cast<DWORD>(writing_.size()), &written,
                  &writeOp_)) {
        return written == writing_.size();
    }
    if (GetLastError() != ERROR_IO_PENDING) return false;
    writePending_ = true;
    return true;
}

bool WinSerialPort::finishWrite(DWORD ms) {
    if (!writePending_) return true;
    if (WaitForSingleObject(writeEvent_, ms) != WAIT_OBJECT_0) return false;
    DWORD written = 0;
    GetOverlappedResult(handle_, &writeOp_, &written, FALSE);
    writePending_ = false;
    return true;
}

void WinSerialPort::doDrainOutput() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    const ULONGLONG deadline = GetTickCount64() + kDrainTimeoutMs;
    const auto left = [&] {
        const ULONGLONG now = GetTickCount64();
        return static_cast<DWORD>(now >= deadline ? 0 : deadline - now);
    };
    finishWrite(left());
    // A driver may finish a write before its last byte is on the line: wait, boundedly, until
    // its transmit queue is empty too, as the Linux path does with TIOCOUTQ.
    DWORD errors = 0;
    COMSTAT status{};
    while (left() > 0 && ClearCommError(handle_, &errors, &status) && status.cbOutQue > 0) {
        Sleep(1);
    }
}

DWORD WinSerialPort::abandon(OVERLAPPED& op, HANDLE event, bool& pending) {
    if (!pending) return 0;
    CancelIoEx(handle_, &op);
    // The system writes into op (and its buffer) until the operation has ended.
    DWORD transferred = 0;
    if (WaitForSingleObject(event, kCancelWaitMs) == WAIT_OBJECT_0) {
        GetOverlappedResult(handle_, &op, &transferred, FALSE);
    }
    pending = false;
    return transferred;
}

void WinSerialPort::doClose() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    notifier_.setEnabled(false);
    sweep_.stop();
    // A request already written leaves whole, as a Linux port drains on closing; what was
    // received and not read is lost.
    finishWrite(kDrainTimeoutMs);
    abandon(writeOp_, writeEvent_, writePending_);
    SetCommMask(handle_, 0);  // ends the wait for received bytes
    abandon(waitOp_, waitEvent_, waitPending_);
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

void WinSerialPort::postReceiveEvent() {
    // Queued, so the link's handler never runs inside the wait's own handler; dropped with
    // events_ if this object goes first.
    QMetaObject::invokeMethod(
        &events_, [this] { raiseReceiveEvent(); }, Qt::QueuedConnection);
}

}  // namespace ck::platform
