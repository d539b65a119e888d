// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <span>
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
        {"link test",
         kRequestStart,
         kHostAddress,
         kInstrumentAddress,
         kCodeLinkTest,
         {0x55, 0xAA},
         {0xA1, 0x00, 0x01, 0x06, 0x05, 0x55, 0xAA, 0xFD}},
        {"history request",
         kRequestStart,
         kHostAddress,
         kInstrumentAddress,
         kCodeHistory,
         {0x00, 0x03, 0x00, 0x03},
         {0xA1, 0x00, 0x01, 0x08, 0x01, 0x00, 0x03, 0x00, 0x03, 0x08}},
        {"live request",
         kRequestStart,
         kHostAddress,
         kInstrumentAddress,
         kCodeLive,
         {},
         {0xA1, 0x00, 0x01, 0x04, 0x06, 0x03}},
        {"link test reply",
         kReplyStart,
         kInstrumentAddress,
         kHostAddress,
         kCodeLinkTest,
         {0x55, 0xAA},
         {0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFD}},
        {"count reply",
         kReplyStart,
         kInstrumentAddress,
         kHostAddress,
         kCodeCount,
         {0x07},
         {0xB1, 0x01, 0x00, 0x05, 0x02, 0x07, 0x01}},
        {"two-byte count reply",
         kReplyStart,
         kInstrumentAddress,
         kHostAddress,
         kCodeCount,
         {0x00, 0x0A},
         {0xB1, 0x01, 0x00, 0x06, 0x02, 0x00, 0x0A, 0x0F}},
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
        {250, 3, 200, 1, 30}, {199, 3, 199, 2, 54},       {198, 3, 198, 3, 78},
        {0, 12, 0, 10, 246},  {200, 0, 200, 0, 6},        {-5, 3, 0, 3, 78},
        {0, -1, 0, 0, 6},     {32767, 32767, 200, 1, 30},
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

// The frame at the first start byte, as the receive path finds it.
ReplyScan ScanFirst(std::span<const uint8_t> bytes) {
    const auto it = std::find(bytes.begin(), bytes.end(), protocol::kReplyStart);
    if (it == bytes.end()) return ReplyScan{};
    return CheckFrameAt(bytes, static_cast<std::size_t>(it - bytes.begin()));
}

TEST(CheckFrameAt, Vectors) {
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
        {"length too small",
         {0xB1, 0x01, 0x00, 0x03, 0x05, 0x00, 0x00},
         ReplyCheck::Malformed,
         0,
         5},
        {"length past the longest reply",
         {0xB1, 0x01, 0x00, 0xFF, 0x01},
         ReplyCheck::Malformed,
         0,
         257},
    };
    for (const auto& c : cases) {
        const ReplyScan s = ScanFirst(c.bytes);
        EXPECT_EQ(s.check, c.check) << c.what;
        EXPECT_EQ(s.start, c.start) << c.what;
        EXPECT_EQ(s.length, c.length) << c.what;
    }
}

// A frame is judged as soon as the bytes that decide allow: one addressed elsewhere or with
// an impossible length is not waited for, so it cannot keep a real reply behind it waiting.
TEST(CheckFrameAt, DecidesAsSoonAsItsBytesAllow) {
    struct Case {
        const char* what;
        Bytes bytes;
        std::size_t at;
        ReplyCheck check;
        std::size_t length;
    };
    const Bytes linkTest = {0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFD};
    Bytes two = {0xB1, 0x01, 0x00, 0x05, 0x02};               // a count reply's start ...
    two.insert(two.end(), linkTest.begin(), linkTest.end());  // ... cut by a whole link test
    const Case cases[] = {
        {"start byte alone", {0xB1}, 0, ReplyCheck::NeedMore, 0},
        {"receiver not us, length not here", {0xB1, 0x01, 0x02}, 0, ReplyCheck::BadAddress, 0},
        {"receiver us, length not here", {0xB1, 0x01, 0x00}, 0, ReplyCheck::NeedMore, 0},
        {"impossible length, nothing after it",
         {0xB1, 0x01, 0x00, 0xF5},
         0,
         ReplyCheck::Malformed,
         247},
        {"length below a header", {0xB1, 0x01, 0x00, 0x03}, 0, ReplyCheck::Malformed, 5},
        {"possible length, rest to come", {0xB1, 0x01, 0x00, 0x4C}, 0, ReplyCheck::NeedMore, 78},
        {"the frame after one cut short", two, 5, ReplyCheck::Ok, 8},
        {"the one cut short", two, 0, ReplyCheck::BadChecksum, 7},
        {"past the end", linkTest, 9, ReplyCheck::NeedMore, 0},
    };
    for (const auto& c : cases) {
        const ReplyScan s = CheckFrameAt(c.bytes, c.at);
        EXPECT_EQ(s.check, c.check) << c.what;
        EXPECT_EQ(s.start, c.at) << c.what;
        EXPECT_EQ(s.length, c.length) << c.what;
    }
}

// The longest reply a request can ask for (ten groups) is a frame; one byte more is not.
TEST(CheckFrameAt, LongestReplyThatCanBeAskedForIsAFrame) {
    const auto asked = BuildRequest(1, protocol::kCodeHistory, 0, 10, 0);
    ASSERT_TRUE(asked);
    Bytes f = {0xB1, 0x01, 0x00, static_cast<uint8_t>(asked->replylen - 2), 0x01};
    f.resize(asked->replylen - 1, 0x00);
    const Bytes ok = withChecksum(f);
    ASSERT_EQ(ok.size(), 246u);
    EXPECT_EQ(CheckFrameAt(ok, 0).check, ReplyCheck::Ok);
    Bytes tooLong = {0xB1, 0x01, 0x00, static_cast<uint8_t>(asked->replylen - 1), 0x01};
    tooLong.resize(asked->replylen, 0x00);
    EXPECT_EQ(CheckFrameAt(withChecksum(tooLong), 0).check, ReplyCheck::Malformed);
}

// A live reply laid out byte by byte: angles from index 5, indicator bytes from 17, voltage
// bytes from 23, each block in the order A1 B1 C1 A2 B2 C2.
TEST(LiveReading, FieldsComeFromTheirPlacesInTheReply) {
    const Bytes reply = withChecksum({0xB1, 0x01, 0x00, 0x1C, 0x06,        // header
                                      0x00, 0x05, 0x00, 0xB4, 0x01, 0x68,  // A1A2 B1B2 C1C2
                                      0x00, 0x78, 0x00, 0xF0, 0x01, 0x67,  // A1B2 B1C2 C1A2
                                      0x01, 0x00, 0x00, 0xFF, 0x00, 0x00,  // indicators
                                      10,   0,    35,   11,   0,    36});  // voltages
    ASSERT_EQ(reply.size(), 30u);
    const auto reading = LiveReading(reply);
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->pairAngles, (std::array<int16_t, 6>{5, 180, 360, 120, 240, 359}));
    using enum measure::Input;
    const std::pair<measure::Input, std::pair<bool, int>> inputs[] = {
        {A1, {true, 10}}, {B1, {false, 0}}, {C1, {false, 35}},
        {A2, {true, 11}}, {B2, {false, 0}}, {C2, {false, 36}},
    };
    for (const auto& [input, want] : inputs) {
        EXPECT_EQ(reading->indicators[measure::idx(input)], want.first) << int(input);
        EXPECT_EQ(reading->voltages[measure::idx(input)], want.second) << int(input);
    }
    // An angle word that cannot be represented, or a reply too short to hold the group: none.
    for (std::size_t k = 0; k < 6; ++k) {
        Bytes bad = reply;
        bad[5 + 2 * k] = 0x80;
        EXPECT_FALSE(LiveReading(bad)) << "angle word " << k;
    }
    EXPECT_FALSE(LiveReading(std::span(reply).first(28)));
}

TEST(HistoryGroups, StopAtTheFirstGroupThatDoesNotDecodeOrDoesNotFit) {
    std::vector<measure::MeasurementGroup> stored;
    for (int16_t i = 0; i < 3; ++i) {
        stored.push_back({{i, 120, 240, 5, 360, 359}, {}, {static_cast<uint8_t>(i + 1), 0, 35}});
    }
    struct Case {
        const char* what;
        std::size_t count;
        int failing;  // group whose A1B2 angle word cannot be represented, -1 for none
        std::size_t want;
    };
    const Case cases[] = {
        {"all three", 3, -1, 3},
        {"fewer than the reply holds", 2, -1, 2},
        {"none asked", 0, -1, 0},
        {"second fails", 3, 1, 1},
        {"first fails", 3, 0, 0},
        {"last fails", 3, 2, 2},
        {"more than the reply holds", 5, -1, 3},
    };
    for (const Case& c : cases) {
        Bytes payload;
        for (const auto& g : stored) {
            const auto bytes = measure::EncodeGroup(g, measure::Source::Stored);
            payload.insert(payload.end(), bytes.begin(), bytes.end());
        }
        if (c.failing >= 0) payload[24 * static_cast<std::size_t>(c.failing) + 6] = 0x80;
        const Bytes reply = protocol::MakeFrame(protocol::kReplyStart, 1, 0, 1, payload);
        const auto groups = HistoryGroups(reply, c.count);
        ASSERT_EQ(groups.size(), c.want) << c.what;
        for (std::size_t i = 0; i < groups.size(); ++i) EXPECT_EQ(groups[i], stored[i]) << c.what;
    }
}

}  // namespace
}  // namespace ck::link
