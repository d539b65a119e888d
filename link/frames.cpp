// SPDX-License-Identifier: MIT
#include "link/frames.h"

#include <algorithm>

#include "link/link_state.h"
#include "link/protocol.h"

namespace ck::link {

using namespace protocol;

std::optional<Request> BuildRequest(uint8_t address, uint8_t code, int16_t start, int16_t count,
                                    uint8_t extra) {
    // Negative values have no meaning on the wire; clamp them like the upper bounds.
    const int s = std::clamp<int>(start, 0, kMaxHistRows);
    int c = std::clamp<int>(count, 0, static_cast<int>(kMaxGroupsPerReply));
    c = std::min(c, kMaxHistRows + 1 - s);
    const auto sH = static_cast<uint8_t>(s / 256), sL = static_cast<uint8_t>(s % 256);
    const auto cH = static_cast<uint8_t>(c / 256), cL = static_cast<uint8_t>(c % 256);

    const uint8_t params[] = {sH, sL, cH, cL};
    const uint8_t extraParam[] = {extra};
    uint8_t to = address;
    std::span<const uint8_t> payload;
    std::size_t replylen = 0;
    switch (code) {
        case kCodeHistory:
            payload = params;
            replylen = GroupReplyLength(static_cast<std::size_t>(c));
            break;
        case kCodeCount:
            replylen = kCountReplyLength;
            break;
        case kCodeQuery:
            to = kBroadcastAddress;
            replylen = kQueryReplyLength;
            break;
        case kCodeCommand:
            to = kBroadcastAddress;
            payload = extraParam;
            replylen = kCommandReplyLength;
            break;
        case kCodeLinkTest:
            payload = kLinkPattern;
            replylen = kLinkTestLength;
            break;
        case kCodeLive:
            replylen = kLiveReplyLength;
            break;
        default:
            return std::nullopt;
    }
    Request r;
    r.bytes = MakeFrame(kRequestStart, kHostAddress, to, code, payload);
    r.replylen = static_cast<uint8_t>(replylen);
    return r;
}

ReplyScan CheckFrameAt(std::span<const uint8_t> bytes, std::size_t at) {
    ReplyScan scan;
    scan.start = at;
    const auto frame = bytes.subspan(std::min(at, bytes.size()));
    if (frame.size() > kLengthAt) {
        scan.length = FrameLength(frame[kLengthAt]);
        if (scan.length < kOverhead || scan.length > kMaxReplyLength) {
            scan.check = ReplyCheck::Malformed;
            return scan;
        }
    }
    if (frame.size() > kReceiverAt && frame[kReceiverAt] != kHostAddress) {
        scan.check = ReplyCheck::BadAddress;
    } else if (frame.size() <= kLengthAt || frame.size() < scan.length) {
        scan.check = ReplyCheck::NeedMore;
    } else if (Checksum(frame.subspan(kSenderAt, ChecksumAt(scan.length) - kSenderAt)) !=
               frame[ChecksumAt(scan.length)]) {
        scan.check = ReplyCheck::BadChecksum;
    } else {
        scan.check = ReplyCheck::Ok;
    }
    return scan;
}

std::optional<measure::MeasurementGroup> LiveReading(std::span<const uint8_t> frame) {
    return measure::DecodeGroup(frame, GroupAt(0), measure::Source::Live);
}

std::vector<measure::MeasurementGroup> HistoryGroups(std::span<const uint8_t> frame,
                                                     std::size_t count) {
    std::vector<measure::MeasurementGroup> groups;
    for (std::size_t g = 0; g < count; ++g) {
        const auto group = measure::DecodeGroup(frame, GroupAt(g), measure::Source::Stored);
        if (!group) break;
        groups.push_back(*group);
    }
    return groups;
}

}  // namespace ck::link
