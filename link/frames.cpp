#include "link/frames.h"

#include <algorithm>

#include "link/link_state.h"

namespace ck::link {

uint8_t Checksum(std::span<const uint8_t> bytes) {
    uint8_t x = 0;
    for (uint8_t b : bytes) x ^= b;
    return x;
}

std::optional<Request> BuildRequest(uint8_t address, uint8_t code, int16_t start, int16_t count,
                                    uint8_t extra) {
    // Negative values have no meaning on the wire; clamp them like the upper bounds.
    const int s = std::clamp<int>(start, 0, kMaxHistRows);
    int c = std::clamp<int>(count, 0, 10);
    c = std::min(c, kMaxHistRows + 1 - s);
    const auto sH = static_cast<uint8_t>(s / 256), sL = static_cast<uint8_t>(s % 256);
    const auto cH = static_cast<uint8_t>(c / 256), cL = static_cast<uint8_t>(c % 256);

    Request r;
    switch (code) {
        case 1:
            r.bytes = {kRequestStart, 0x00, address, 0x08, 0x01, sH, sL, cH, cL};
            r.replylen = static_cast<uint8_t>(24 * c + 6);
            break;
        case 2:
            r.bytes = {kRequestStart, 0x00, address, 0x04, 0x02};
            r.replylen = 7;
            break;
        case 3:
            r.bytes = {kRequestStart, 0x00, 0xFF, 0x04, 0x03};
            r.replylen = 7;
            break;
        case 4:
            r.bytes = {kRequestStart, 0x00, 0xFF, 0x05, 0x04, extra};
            r.replylen = 7;
            break;
        case 5:
            r.bytes = {kRequestStart, 0x00, address, 0x06, 0x05, 0x55, 0xAA};
            r.replylen = 8;
            break;
        case 6:
            r.bytes = {kRequestStart, 0x00, address, 0x04, 0x06};
            r.replylen = 30;
            break;
        default:
            return std::nullopt;
    }
    r.bytes.push_back(Checksum(std::span(r.bytes).subspan(1)));
    return r;
}

ReplyScan ScanReply(std::span<const uint8_t> bytes) {
    ReplyScan scan;
    const auto it = std::find(bytes.begin(), bytes.end(), kReplyStart);
    if (it == bytes.end()) return scan;
    scan.start = static_cast<std::size_t>(it - bytes.begin());
    const auto frame = bytes.subspan(scan.start);
    if (frame.size() < 4) {
        scan.check = ReplyCheck::NeedMore;
        return scan;
    }
    scan.length = std::size_t{frame[3]} + 2;
    if (scan.length < 6 || scan.length > kRxFrameSize) {
        scan.check = ReplyCheck::Malformed;
    } else if (frame.size() < scan.length) {
        scan.check = ReplyCheck::NeedMore;
    } else if (frame[2] != 0x00) {
        scan.check = ReplyCheck::BadAddress;
    } else if (Checksum(frame.subspan(1, scan.length - 2)) != frame[scan.length - 1]) {
        scan.check = ReplyCheck::BadChecksum;
    } else {
        scan.check = ReplyCheck::Ok;
    }
    return scan;
}

}  // namespace ck::link
