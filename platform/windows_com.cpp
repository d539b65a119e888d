// SPDX-License-Identifier: MIT
#include "platform/windows_com.h"

#include "platform/serial_port.h"

namespace ck::platform {
namespace {

// winerror.h values, spelled out so this builds everywhere.
constexpr uint32_t kInvalidFunction = 1;
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kSharingViolation = 32;
constexpr uint32_t kInvalidName = 123;
constexpr uint32_t kDeviceNotConnected = 1167;

}  // namespace

std::string WindowsComPath(int n) { return "\\\\.\\COM" + std::to_string(n); }

int OpenErrorFromWindows(uint32_t code) {
    switch (code) {
        case kAccessDenied:
        case kSharingViolation:
            return kErrPortInUse;
        case kFileNotFound:
        case kPathNotFound:
        case kInvalidName:
        case kDeviceNotConnected:
        // A name that opens but takes no serial-port request: no port stands behind it. Wine
        // opens every COMn so and fails here for one that maps to no device.
        case kInvalidFunction:
            return kErrNoSuchPort;
        default:
            return kErrOpenFailed;
    }
}

}  // namespace ck::platform
