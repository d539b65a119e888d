// SPDX-License-Identifier: MIT
#pragma once
// The serial protocol between the application and the instrument, as both ends see it: start
// bytes, addresses, command codes, where each field sits in a frame and how long each frame is.
// The link, the simulated instrument and the tests take the wire format from here and nowhere
// else. Header only: the simulator uses it without depending on the link.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "measure/measurement.h"
#include "platform/line.h"

namespace ck::protocol {

inline constexpr uint8_t kRequestStart = 0xA1;
inline constexpr uint8_t kReplyStart = 0xB1;

inline constexpr uint8_t kHostAddress = 0x00;        // the application: receiver of every reply
inline constexpr uint8_t kInstrumentAddress = 0x01;  // the instrument the application asks
inline constexpr uint8_t kBroadcastAddress = 0xFF;   // where the query and the command go

// Command codes; a reply carries the code of the request it answers.
inline constexpr uint8_t kCodeHistory = 1;   // stored groups from a start index
inline constexpr uint8_t kCodeCount = 2;     // how many groups are stored
inline constexpr uint8_t kCodeQuery = 3;     // broadcast query; the application never sends it
inline constexpr uint8_t kCodeCommand = 4;   // broadcast one-byte command; never sent either
inline constexpr uint8_t kCodeLinkTest = 5;  // answered with the pattern it carries
inline constexpr uint8_t kCodeLive = 6;      // the current reading
// A reply code that only ends the exchange; what the instrument means by it is not known.
inline constexpr uint8_t kCodeNotice = 0xF1;

// Where each field of a frame sits, counting from its start byte.
inline constexpr std::size_t kSenderAt = 1;
inline constexpr std::size_t kReceiverAt = 2;
inline constexpr std::size_t kLengthAt = 3;  // the frame's length less two
inline constexpr std::size_t kCodeAt = 4;
inline constexpr std::size_t kPayloadAt = 5;
// Bytes around the payload: start, sender, receiver, length and code before it, the checksum
// after it. Also the shortest frame.
inline constexpr std::size_t kOverhead = kPayloadAt + 1;
// The checksum covers everything between the start byte and itself.
constexpr std::size_t ChecksumAt(std::size_t frameLength) { return frameLength - 1; }
constexpr std::size_t FrameLength(uint8_t lengthByte) { return std::size_t{lengthByte} + 2; }

// Payload fields. History request: start index, then count, each 16-bit high byte first.
inline constexpr std::size_t kHistoryStartAt = kPayloadAt;
inline constexpr std::size_t kHistoryCountAt = kPayloadAt + 2;
// Command request: its one byte.
inline constexpr std::size_t kCommandByteAt = kPayloadAt;
// Count reply: one byte, or two high byte first.
inline constexpr std::size_t kCountAt = kPayloadAt;
// The link test carries this pattern and its answer carries it back.
inline constexpr std::array<uint8_t, 2> kLinkPattern = {0x55, 0xAA};

// A request asks for at most ten groups, so the longest reply is 6 + 24 * 10 = 246 bytes.
inline constexpr std::size_t kMaxGroupsPerReply = 10;

// Group g of a reply's payload starts here: groups lie back to back after the header.
constexpr std::size_t GroupAt(std::size_t g) { return kPayloadAt + measure::kGroupSize * g; }
// Whole groups a reply of this length has room for.
constexpr std::size_t GroupsIn(std::size_t frameLength) {
    return frameLength < kOverhead ? 0 : (frameLength - kOverhead) / measure::kGroupSize;
}
constexpr std::size_t GroupReplyLength(std::size_t groups) {
    return kOverhead + measure::kGroupSize * groups;
}

// Frame lengths.
inline constexpr std::size_t kHistoryRequestLength = kOverhead + 4;
inline constexpr std::size_t kCountRequestLength = kOverhead;
inline constexpr std::size_t kQueryRequestLength = kOverhead;
inline constexpr std::size_t kCommandRequestLength = kOverhead + 1;
inline constexpr std::size_t kLinkTestLength = kOverhead + kLinkPattern.size();  // both ways
inline constexpr std::size_t kLiveRequestLength = kOverhead;
inline constexpr std::size_t kCountReplyLength = kOverhead + 1;      // one-byte count
inline constexpr std::size_t kLongCountReplyLength = kOverhead + 2;  // two-byte count
inline constexpr std::size_t kQueryReplyLength = kOverhead + 1;
inline constexpr std::size_t kCommandReplyLength = kOverhead + 1;
inline constexpr std::size_t kLiveReplyLength = GroupReplyLength(1);  // one group
// The longest reply a request can ask for; nothing longer is taken for a frame.
inline constexpr std::size_t kMaxReplyLength = GroupReplyLength(kMaxGroupsPerReply);

// Time for `bytes` bytes to cross the port's line, in microseconds, rounded up.
constexpr int64_t LineTimeUs(int64_t bytes) {
    return (bytes * platform::kLineBitsPerByte * 1'000'000 + platform::kLineBaud - 1) /
           platform::kLineBaud;
}
// The same on a line whose clock runs this many percent fast or slow: what an arrival time
// can be measured against without assuming the line keeps its nominal pace exactly.
inline constexpr int64_t kLineTolerancePercent = 5;
constexpr int64_t FastLineTimeUs(int64_t bytes) {
    return LineTimeUs(bytes) * 100 / (100 + kLineTolerancePercent);
}
constexpr int64_t SlowLineTimeUs(int64_t bytes) {
    return LineTimeUs(bytes) * 100 / (100 - kLineTolerancePercent);
}

// Longitudinal XOR, initial value 0; not a CRC.
constexpr uint8_t Checksum(std::span<const uint8_t> bytes) {
    uint8_t x = 0;
    for (const uint8_t b : bytes) x = static_cast<uint8_t>(x ^ b);
    return x;
}

// A whole frame: start byte, sender, receiver, length, code, payload and checksum. The payload
// must leave the frame within the length byte's reach (at most 251 bytes).
inline std::vector<uint8_t> MakeFrame(uint8_t start, uint8_t sender, uint8_t receiver, uint8_t code,
                                      std::span<const uint8_t> payload) {
    std::vector<uint8_t> f(payload.size() + kOverhead);
    f[0] = start;
    f[kSenderAt] = sender;
    f[kReceiverAt] = receiver;
    f[kLengthAt] = static_cast<uint8_t>(f.size() - 2);
    f[kCodeAt] = code;
    for (std::size_t i = 0; i < payload.size(); ++i) f[kPayloadAt + i] = payload[i];
    f.back() = Checksum(std::span<const uint8_t>(f).subspan(kSenderAt, f.size() - 2));
    return f;
}

}  // namespace ck::protocol
