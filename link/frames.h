// SPDX-License-Identifier: MIT
#pragma once
// Request frames to the instrument and the checks a reply frame must pass. Pure functions.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "measure/measurement.h"

namespace ck::link {

struct Request {
    std::vector<uint8_t> bytes;
    uint8_t replylen = 0;  // bytes the reply to it will have
};

// The frame for `code` (1..6) with start and count clamped to the history range (start at most
// 200, count at most 10 and at most 201 - start, neither below 0); nullopt for another code.
std::optional<Request> BuildRequest(uint8_t address, uint8_t code, int16_t start, int16_t count,
                                    uint8_t extra);

enum class ReplyCheck : uint8_t {
    Ok,           // a whole frame for us with a good checksum
    NoStart,      // no start byte at all
    NeedMore,     // the frame begun at the start byte has not fully arrived
    Malformed,    // its length byte cannot describe a reply (under 6 or over 246 bytes)
    BadAddress,   // addressed to someone else
    BadChecksum,  // damaged
};

struct ReplyScan {
    ReplyCheck check = ReplyCheck::NoStart;
    std::size_t start = 0;   // index of the start byte
    std::size_t length = 0;  // frame length n from its length byte (0 if not yet known)
};

// Checks the frame that begins at bytes[at] (a start byte) as far as what has arrived allows,
// in the order: length, receiver address, checksum. A header addressed elsewhere or with an
// impossible length is rejected as soon as its byte is there, without waiting for the rest.
// `length` is filled in once the length byte has arrived.
ReplyScan CheckFrameAt(std::span<const uint8_t> bytes, std::size_t at);

// The reading a live reply carries, the reply's start byte at frame[0]; nullopt when it does
// not decode.
std::optional<measure::MeasurementGroup> LiveReading(std::span<const uint8_t> frame);
// The first `count` stored groups of a history reply, its start byte at frame[0], up to the
// first that does not decode or does not lie wholly inside `frame`: nothing of that group or
// of any after it is kept.
std::vector<measure::MeasurementGroup> HistoryGroups(std::span<const uint8_t> frame,
                                                     std::size_t count);

}  // namespace ck::link
