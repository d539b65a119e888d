// SPDX-License-Identifier: MIT
#pragma once
// The Win32 calls the Windows serial port makes, as a small table over portable types, so
// that its logic builds and is tested on every platform against drivers that misbehave on
// purpose; SystemSerialApi() is the system's own table (Windows only). Every call returns
// the error code GetLastError() would give (0 for success), so no thread-local state leaks
// between a call and its caller.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ck::platform::win {

using Handle = void*;
using Dword = uint32_t;

// winerror.h values.
inline constexpr Dword kOk = 0;
inline constexpr Dword kErrorInvalidFunction = 1;
inline constexpr Dword kErrorFileNotFound = 2;
inline constexpr Dword kErrorAccessDenied = 5;
inline constexpr Dword kErrorInvalidHandle = 6;
inline constexpr Dword kErrorBadCommand = 22;
inline constexpr Dword kErrorGenFailure = 31;
inline constexpr Dword kErrorInvalidParameter = 87;
inline constexpr Dword kErrorOperationAborted = 995;
inline constexpr Dword kErrorIoIncomplete = 996;
inline constexpr Dword kErrorIoPending = 997;
inline constexpr Dword kErrorDeviceNotConnected = 1167;
inline constexpr Dword kErrorNotFound = 1168;
inline constexpr Dword kWaitTimeout = 258;

inline constexpr Dword kMaxDword = 0xFFFFFFFF;

// PurgeComm flags and EscapeCommFunction functions (winbase.h).
inline constexpr Dword kPurgeTxAbort = 0x0001;
inline constexpr Dword kPurgeRxAbort = 0x0002;
inline constexpr Dword kPurgeTxClear = 0x0004;
inline constexpr Dword kPurgeRxClear = 0x0008;
inline constexpr Dword kSetRts = 3;
inline constexpr Dword kSetDtr = 5;

// OVERLAPPED, member for member (the system's table checks the layout): the system writes the
// status and the count into it until the operation has ended.
struct Overlapped {
    uintptr_t internal = 0;      // status of the operation
    uintptr_t internalHigh = 0;  // bytes transferred
    Dword offset = 0;
    Dword offsetHigh = 0;
    Handle event = nullptr;
};

// The DCB fields this program sets; the system's table keeps the rest of the DCB that
// GetCommState returned and hands it back to SetCommState unchanged.
struct CommState {
    Dword baudRate = 0;
    uint8_t byteSize = 0;
    uint8_t parity = 0;    // 0: none
    uint8_t stopBits = 0;  // 0: one
    bool binary = false;
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    uint8_t dtrControl = 0;  // 1: DTR_CONTROL_ENABLE
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool outX = false;
    bool inX = false;
    bool errorChar = false;
    bool nullStrip = false;
    uint8_t rtsControl = 0;  // 1: RTS_CONTROL_ENABLE
    bool abortOnError = false;
    char xonChar = 0;
    char xoffChar = 0;
    uint16_t xonLim = 0;
    uint16_t xoffLim = 0;
    unsigned char raw[64] = {};  // the DCB as the system returned it
};

struct CommTimeouts {
    Dword readIntervalTimeout = 0;
    Dword readTotalTimeoutMultiplier = 0;
    Dword readTotalTimeoutConstant = 0;
    Dword writeTotalTimeoutMultiplier = 0;
    Dword writeTotalTimeoutConstant = 0;
};

// From ClearCommError.
struct CommStatus {
    Dword errors = 0;
    Dword inQueue = 0;
    Dword outQueue = 0;
};

class SerialApi {
public:
    virtual ~SerialApi() = default;
    // CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
    // FILE_FLAG_OVERLAPPED, NULL); nullptr and the error when it fails.
    virtual Handle createFile(const std::string& path, Dword& error) = 0;
    virtual Dword closeHandle(Handle h) = 0;
    virtual Dword getCommState(Handle h, CommState& state) = 0;
    virtual Dword setCommState(Handle h, const CommState& state) = 0;
    virtual Dword setupComm(Handle h, Dword inQueue, Dword outQueue) = 0;
    virtual Dword setCommTimeouts(Handle h, const CommTimeouts& timeouts) = 0;
    virtual Dword setCommMask(Handle h, Dword mask) = 0;
    virtual Dword escapeCommFunction(Handle h, Dword function) = 0;
    virtual Dword purgeComm(Handle h, Dword flags) = 0;
    virtual Dword clearCommError(Handle h, CommStatus& status) = 0;
    // ReadFile and WriteFile with no count pointer: on an overlapped handle the count comes
    // from getOverlappedResult. kOk when done at once, kErrorIoPending when under way.
    virtual Dword readFile(Handle h, void* buffer, Dword size, Overlapped& op) = 0;
    virtual Dword writeFile(Handle h, const void* bytes, Dword size, Overlapped& op) = 0;
    virtual Dword getOverlappedResult(Handle h, Overlapped& op, Dword& transferred, bool wait) = 0;
    virtual Dword cancelIoEx(Handle h, Overlapped& op) = 0;
    // A manual-reset event, not signalled; nullptr when none can be made.
    virtual Handle createEvent() = 0;
    virtual Dword resetEvent(Handle event) = 0;
    // WaitForSingleObject: kOk when signalled, kWaitTimeout when ms ran out.
    virtual Dword waitForEvent(Handle event, Dword ms) = 0;
};

#ifdef _WIN32
std::unique_ptr<SerialApi> SystemSerialApi();
#endif

}  // namespace ck::platform::win
