// SPDX-License-Identifier: MIT
// The system's own table: each call as Microsoft documents it, its error taken at once.

#include <windows.h>

#include <cstddef>
#include <cstring>

#include "platform/win_serial_api.h"

namespace ck::platform::win {
namespace {

static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED));
static_assert(offsetof(Overlapped, internal) == offsetof(OVERLAPPED, Internal));
static_assert(offsetof(Overlapped, internalHigh) == offsetof(OVERLAPPED, InternalHigh));
static_assert(offsetof(Overlapped, event) == offsetof(OVERLAPPED, hEvent));
static_assert(sizeof(DCB) <= sizeof(CommState::raw));

OVERLAPPED* system(Overlapped& op) { return reinterpret_cast<OVERLAPPED*>(&op); }

Dword result(BOOL ok) { return ok ? kOk : static_cast<Dword>(GetLastError()); }

class SystemApi final : public SerialApi {
public:
    Handle createFile(const std::string& path, Dword& error) override {
        const std::wstring wide(path.begin(), path.end());  // \\.\COMn: ASCII
        const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            error = static_cast<Dword>(GetLastError());
            return nullptr;
        }
        error = kOk;
        return h;
    }
    Dword closeHandle(Handle h) override { return result(CloseHandle(h)); }
    Dword getCommState(Handle h, CommState& s) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(h, &dcb)) return result(FALSE);
        std::memcpy(s.raw, &dcb, sizeof dcb);
        s.baudRate = dcb.BaudRate;
        s.byteSize = dcb.ByteSize;
        s.parity = dcb.Parity;
        s.stopBits = dcb.StopBits;
        s.binary = dcb.fBinary;
        s.parityCheck = dcb.fParity;
        s.outxCtsFlow = dcb.fOutxCtsFlow;
        s.outxDsrFlow = dcb.fOutxDsrFlow;
        s.dtrControl = static_cast<uint8_t>(dcb.fDtrControl);
        s.dsrSensitivity = dcb.fDsrSensitivity;
        s.txContinueOnXoff = dcb.fTXContinueOnXoff;
        s.outX = dcb.fOutX;
        s.inX = dcb.fInX;
        s.errorChar = dcb.fErrorChar;
        s.nullStrip = dcb.fNull;
        s.rtsControl = static_cast<uint8_t>(dcb.fRtsControl);
        s.abortOnError = dcb.fAbortOnError;
        s.xonChar = dcb.XonChar;
        s.xoffChar = dcb.XoffChar;
        s.xonLim = dcb.XonLim;
        s.xoffLim = dcb.XoffLim;
        return kOk;
    }
    Dword setCommState(Handle h, const CommState& s) override {
        DCB dcb{};
        std::memcpy(&dcb, s.raw, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = s.baudRate;
        dcb.ByteSize = s.byteSize;
        dcb.Parity = s.parity;
        dcb.StopBits = s.stopBits;
        dcb.fBinary = s.binary;
        dcb.fParity = s.parityCheck;
        dcb.fOutxCtsFlow = s.outxCtsFlow;
        dcb.fOutxDsrFlow = s.outxDsrFlow;
        dcb.fDtrControl = s.dtrControl & 3u;
        dcb.fDsrSensitivity = s.dsrSensitivity;
        dcb.fTXContinueOnXoff = s.txContinueOnXoff;
        dcb.fOutX = s.outX;
        dcb.fInX = s.inX;
        dcb.fErrorChar = s.errorChar;
        dcb.fNull = s.nullStrip;
        dcb.fRtsControl = s.rtsControl & 3u;
        dcb.fAbortOnError = s.abortOnError;
        dcb.XonChar = s.xonChar;
        dcb.XoffChar = s.xoffChar;
        dcb.XonLim = s.xonLim;
        dcb.XoffLim = s.xoffLim;
        return result(SetCommState(h, &dcb));
    }
    Dword setupComm(Handle h, Dword in, Dword out) override {
        return result(SetupComm(h, in, out));
    }
    Dword setCommTimeouts(Handle h, const CommTimeouts& t) override {
        COMMTIMEOUTS c{t.readIntervalTimeout, t.readTotalTimeoutMultiplier,
                       t.readTotalTimeoutConstant, t.writeTotalTimeoutMultiplier,
                       t.writeTotalTimeoutConstant};
        return result(SetCommTimeouts(h, &c));
    }
    Dword setCommMask(Handle h, Dword mask) override { return result(SetCommMask(h, mask)); }
    Dword escapeCommFunction(Handle h, Dword f) override {
        return result(EscapeCommFunction(h, f));
    }
    Dword purgeComm(Handle h, Dword flags) override { return result(PurgeComm(h, flags)); }
    Dword clearCommError(Handle h, CommStatus& s) override {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(h, &errors, &stat)) return result(FALSE);
        s.errors = errors;
        s.inQueue = stat.cbInQue;
        s.outQueue = stat.cbOutQue;
        return kOk;
    }
    Dword readFile(Handle h, void* buffer, Dword size, Overlapped& op) override {
        return result(ReadFile(h, buffer, size, nullptr, system(op)));
    }
    Dword writeFile(Handle h, const void* bytes, Dword size, Overlapped& op) override {
        return result(WriteFile(h, bytes, size, nullptr, system(op)));
    }
    Dword getOverlappedResult(Handle h, Overlapped& op, Dword& transferred, bool wait) override {
        DWORD n = 0;
        const Dword e = result(GetOverlappedResult(h, system(op), &n, wait ? TRUE : FALSE));
        transferred = n;
        return e;
    }
    Dword cancelIoEx(Handle h, Overlapped& op) override {
        return result(CancelIoEx(h, system(op)));
    }
    Handle createEvent() override { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    Dword resetEvent(Handle event) override { return result(ResetEvent(event)); }
    Dword waitForEvent(Handle event, Dword ms) override {
        switch (WaitForSingleObject(event, ms)) {
            case WAIT_OBJECT_0:
                return kOk;
            case WAIT_TIMEOUT:
                return kWaitTimeout;
            default:
                return result(FALSE);
        }
    }
};

}  // namespace

std::unique_ptr<SerialApi> SystemSerialApi() { return std::make_unique<SystemApi>(); }

}  // namespace ck::platform::win
