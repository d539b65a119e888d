// SPDX-License-Identifier: MIT
#pragma once
// Low-latency mode of a serial driver. USB serial adapters hold received bytes back to pass
// them on in batches (an FTDI chip waits up to 16 ms by default), and with one short reply per
// request that wait lands on every exchange. On Linux the driver is asked to pass bytes on at
// once (TIOCGSERIAL / TIOCSSERIAL with ASYNC_LOW_LATENCY) where it offers the setting; where it
// does not (a built-in UART, a pseudo-terminal, another system) nothing is changed or reported.

#include <functional>

namespace ck::platform {

// ioctl(fd, request, arg) as the system has it; tests put their own in its place.
using SerialIoctl = std::function<int(int fd, unsigned long request, void* arg)>;

enum class LowLatency {
    Asked,       // the driver took the setting
    AlreadyOn,   // it was on before
    NotOffered,  // the driver has no such setting (or this is not Linux)
    Refused,     // the driver has it but would not change it
};

// Asks the driver behind fd for low-latency mode, touching no other setting.
LowLatency AskLowLatency(int fd, const SerialIoctl& ioctl);

// The system's own ioctl.
SerialIoctl SystemSerialIoctl();

}  // namespace ck::platform
