// SPDX-License-Identifier: MIT
#include "platform/qt/low_latency.h"

#if defined(__linux__)
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace ck::platform {

LowLatency AskLowLatency([[maybe_unused]] int fd, [[maybe_unused]] const SerialIoctl& ioctl) {
#if defined(__linux__)
    serial_struct info{};
    if (!ioctl || ioctl(fd, TIOCGSERIAL, &info) != 0) return LowLatency::NotOffered;
    if ((info.flags & ASYNC_LOW_LATENCY) != 0) return LowLatency::AlreadyOn;
    info.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &info) == 0 ? LowLatency::Asked : LowLatency::Refused;
#else
    return LowLatency::NotOffered;
#endif
}

SerialIoctl SystemSerialIoctl() {
#if defined(__linux__)
    return [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); };
#else
    return {};
#endif
}

}  // namespace ck::platform
