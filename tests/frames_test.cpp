#include <gtest/gtest.h>

#include <vector>

#include "link/frames.h"
#include "link/protocol.h"

namespace ck::link {
namespace {

using Bytes = std::vector<uint8_t>;
using protocol::Checksum;

TEST(Protocol, FramesAsTheyAreSent) {
    using namespace protocol;
    struct Case {
        const char* what;
        uint8_t start, sender, receiver, code;
        Bytes payload, frame;
    };
    const Case cases[] = {
        {"link test", kRequestStart, kHostAddress, kInstrumentAddress, kCodeLinkTest,
         {0x55, 0xAA}, {0xA1, 0x00, 0x01, 0x06, 0x05, 0x55, 0xAA, 0xFD}},
        {"history request", kRequestStart, kHostAddress, kInstrumentAddress, kCodeHistory,
         {0x00, 0x03, 0x00, 0x03}, {0xA1, 0x00, 0x01, 0x08, 0x01, 0x00, 0x03, 0x00, 0x03, 0x08}},
        {"live request", kRequestStart, kHostAddress, kInstrumentAddress, kCodeLive, {},
         {0xA1, 0x00, 0x01, 0x04, 0x06, 0x03}},
        {"link test reply", kReplyStart, kInstrumentAddress, kHostAddress, kCodeLinkTest,
         {0x55, 0xAA}, {0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFD}},
        {"count reply", kReplyStart, kInstrumentAddress, kHostAddress, kCodeCount, {0x07},
         {0xB1, 0x01, 0x00, 0x05, 0x02, 0x07, 0x01}},
        {"two-byte count reply", kReplyStart, kInstrumentAddress, kHostAddress, kCodeCount,
         {0x00, 0x0A}, {0xB1, 0x01, 0x00, 0x06, 0x02, 0x00, 0x0A, 0x0F}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MakeFrame(c.start, c.sender, c.receiver, c.code, c.payload), c.frame) << c.what;
    }
}

TEST(Protocol, LengthsAndGroupPlaces) {
    using namespace protocol;
    struct Case {
        const char* what;
        std::size_t got, want;
    };
    const Case cases[] = {
        {"live reply", kLiveReplyLength, 30},
        {"three-group reply", GroupReplyLength(3), 78},
        {"largest reply", GroupReplyLength(kMaxGroupsPerReply), 246},
        {"link test", kLinkTestLength, 8},
        {"count reply", kCountReplyLength, 7},
        {"two-byte count reply", kLongCountReplyLength, 8},
        {"history request", kHistoryRequestLength, 10},
        {"command request", kCommandRequestLength, 7},
        {"group 0", GroupAt(0), 5},
        {"group 7, the last a 201-byte frame holds", GroupAt(7), 173},
        {"groups in a live reply", GroupsIn(30), 1},
        {"groups in 78 bytes", GroupsIn(78), 3},
        {"groups in 77 bytes", GroupsIn(77), 2},
        {"groups in 201 bytes", GroupsIn(201), 8},
        {"groups in a header", GroupsIn(5), 0},
        {"length byte 4", FrameLength(4), 6},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

TEST(BuildRequest, WorkedFrames) {
    struct Case {
        uint8_t code;
        int16_t start, count;
        uint8_t extra;
        Bytes frame;
        uint8_t replylen;
    };
    const Case cases[] = {
        {5, 0, 0, 0, {0xA1, 0x00, 0x01, 0x06, 0x05, 0x55, 0xAA, 0xFD}, 8},
        {6, 0, 0, 0, {0xA1, 0x00, 0x01, 0x04, 0x06, 0x03}, 30},
        {2, 0, 0, 0, {0xA1, 0x00, 0x01, 0x04, 0x02, 0x07}, 7},
        {1, 0, 3, 0, {0xA1, 0x00, 0x01, 0x08, 0x01, 0x00, 0x00, 0x00, 0x03, 0x0B}, 78},
        {1, 3, 3, 0, {0xA1, 0x00, 0x01, 0x08, 0x01, 0x00, 0x03, 0x00, 0x03, 0x08}, 78},
        // Broadcast codes ignore the address argument.
        {3, 0, 0, 0, {0xA1, 0x00, 0xFF, 0x04, 0x03, 0xF8}, 7},
        {4, 0, 0, 0x5A, {0xA1, 0x00, 0xFF, 0x05, 0x04, 0x5A, 0xA4}, 7},
    };
    for (const auto& c : cases) {
        const auto r = BuildRequest(1, c.code, c.start, c.count, c.extra);
        ASSERT_TRUE(r) << int(c.code);
        EXPECT_EQ(r->bytes, c.frame) << "code " << int(c.code);
        EXPECT_EQ(r->replylen, c.replylen) << "code " << int(c.code);
    }
    EXPECT_FALSE(BuildRequest(1, 0, 0, 0, 0));
    EXPECT_FALSE(BuildRequest(1, 7, 0, 0, 0));
}

TEST(BuildRequest, StartAndCountAreClamped) {
    struct Case {
        int16_t start, count;
        uint8_t sL, cL, replylen;
    };
    const Case cases[] = {
        {250, 3, 200, 1, 30},   {199, 3, 199, 2, 54},  {198, 3, 198, 3, 78},
        {0, 12, 0, 10, 246},    {200, 0, 200, 0, 6},   {-5, 3, 0, 3, 78},
        {0, -1, 0, 0, 6},       {32767, 32767, 200, 1, 30},
    };
    for (const auto& c : cases) {
        const auto r = BuildRequest(1, 1, c.start, c.count, 0);
        ASSERT_TRUE(r);
        const Bytes& b = r->bytes;
        EXPECT_EQ(b[5], 0) << c.start;
        EXPECT_EQ(b[6], c.sL) << c.start;
        EXPECT_EQ(b[7], 0) << c.start;
        EXPECT_EQ(b[8], c.cL) << c.start << "," << c.count;
        EXPECT_EQ(r->replylen, c.replylen) << c.start << "," << c.count;
        EXPECT_EQ(b[9], Checksum(std::span(b).subspan(1, 8)));
    }
    for (int16_t s = 0; s <= 200; ++s) {
        const auto r = BuildRequest(1, 1, s, 1, 0);
        EXPECT_EQ(r->bytes[5], 0);
        EXPECT_EQ(r->bytes[6], s);
    }
}

Bytes withChecksum(Bytes frame) {
    frame.push_back(Checksum(std::span(frame).subspan(1)));
    return frame;
}

TEST(ScanReply, Vectors) {
    struct Case {
        const char* what;
        Bytes bytes;
        ReplyCheck check;
        std::size_t start, length;
    };
    const Bytes linkTest = {0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFD};
    const Bytes noisy = {0x00, 0xFF, 0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFD};
    Bytes wrongAddr = noisy;
    wrongAddr[4] = 0x01;
    Bytes badSum = linkTest;
    badSum.back() ^= 0x01;
    const Case cases[] = {
        {"noise before start", noisy, ReplyCheck::Ok, 2, 8},
        {"receiver not us", wrongAddr, ReplyCheck::BadAddress, 2, 8},
        {"bad checksum", badSum, ReplyCheck::BadChecksum, 0, 8},
        {"count n=7", withChecksum({0xB1, 0x01, 0x00, 0x05, 0x02, 0x07}), ReplyCheck::Ok, 0, 7},
        {"count n=8", {0xB1, 0x01, 0x00, 0x06, 0x02, 0x00, 0x0A, 0x0F}, ReplyCheck::Ok, 0, 8},
        {"no start byte", {0x00, 0x01, 0xA1}, ReplyCheck::NoStart, 0, 0},
        {"empty", {}, ReplyCheck::NoStart, 0, 0},
        {"length not yet here", {0x00, 0xB1, 0x01, 0x00}, ReplyCheck::NeedMore, 1, 0},
        {"short of announced", {0xB1, 0x01, 0x00, 0x06, 0x05, 0x55}, ReplyCheck::NeedMore, 0, 8},
        {"length too small", {0xB1, 0x01, 0x00, 0x03, 0x05, 0x00, 0x00}, ReplyCheck::Malformed, 0, 5},
        {"length past buffer", {0xB1, 0x01, 0x00, 0xFF, 0x01}, ReplyCheck::Malformed, 0, 257},
    };
    for (const auto& c : cases) {
        const ReplyScan s = ScanReply(c.bytes);
        EXPECT_EQ(s.check, c.check) << c.what;
        EXPECT_EQ(s.start, c.start) << c.what;
        EXPECT_EQ(s.length, c.length) << c.what;
    }
}

TEST(ScanReply, LongestFrameThatFitsTheBufferIsAccepted) {
    Bytes f = {0xB1, 0x01, 0x00, 199, 0x01};
    f.resize(200, 0x00);
    const Bytes ok = withChecksum(f);  // n = 201
    EXPECT_EQ(ScanReply(ok).check, ReplyCheck::Ok);
    Bytes tooLong = {0xB1, 0x01, 0x00, 200, 0x01};
    tooLong.resize(201, 0x00);
    EXPECT_EQ(ScanReply(withChecksum(tooLong)).check, ReplyCheck::Malformed);
}

}  // namespace
}  // namespace ck::link
