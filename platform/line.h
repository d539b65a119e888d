// SPDX-License-Identifier: MIT
#pragma once
// The line every serial port opens: the instrument speaks nothing else, so the backends set
// it and the wire format times its bytes by it from here alone.

#include <cstdint>

namespace ck::platform {

// 9600 baud, 8 data bits, no parity, 1 stop bit, no flow control.
inline constexpr int64_t kLineBaud = 9600;
inline constexpr int kLineDataBits = 8;
inline constexpr int kLineStopBits = 1;
// A start bit, the data bits and the stop bit: ten bit times a byte, 1041.67 us.
inline constexpr int64_t kLineBitsPerByte = 1 + kLineDataBits + kLineStopBits;

}  // namespace ck::platform
