// SPDX-License-Identifier: MIT
// The simulated instrument: what it answers, what it ignores, and how it misbehaves when told
// to, seen on the bytes themselves and through the in-process port on the virtual clock.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "link/protocol.h"
#include "measure/measurement.h"
#include "platform/virtual_clock.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"

namespace {

using namespace ck::sim;
using ck::measure::MeasurementGroup;
using ck::measure::Source;
using ck::protocol::GroupAt;
using Bytes = std::vector<uint8_t>;

// Frames are laid out here by hand, not with the code the simulator builds its own with.
Bytes WithXor(Bytes b) {
    uint8_t x = 0;
    for (std::size_t i = 1; i < b.size(); ++i) x = static_cast<uint8_t>(x ^ b[i]);
    b.push_back(x);
    return b;
}
Bytes Request(uint8_t to, uint8_t code, Bytes params = {}) {
    Bytes b = {ck::protocol::kRequestStart, ck::protocol::kHostAddress, to,
               static_cast<uint8_t>(params.size() + 4), code};
    b.insert(b.end(), params.begin(), params.end());
    return WithXor(b);
}
Bytes Reply(uint8_t code, Bytes payload, uint8_t to = ck::protocol::kHostAddress) {
    Bytes b = {ck::protocol::kReplyStart, ck::protocol::kInstrumentAddress, to,
               static_cast<uint8_t>(payload.size() + 4), code};
    b.insert(b.end(), payload.begin(), payload.end());
    return WithXor(b);
}
Bytes History(uint16_t start, uint16_t count) {
    return Request(1, 1,
                   {uint8_t(start >> 8), uint8_t(start), uint8_t(count >> 8), uint8_t(count)});
}
FaultRule Rule(Fault kind, const std::function<void(FaultRule&)>& set = {}) {
    FaultRule r;
    r.kind = kind;
    if (set) set(r);
    return r;
}
Bytes Concat(const std::vector<Delivery>& ds) {
    Bytes all;
    for (const auto& d : ds) all.insert(all.end(), d.bytes.begin(), d.bytes.end());
    return all;
}

// A1A2 359, B1B2 7, C1C2 360 (none), A1B2 120, B1C2 1000, C1A2 0; indicators A1 and C2 on;
// voltages A1 10, B1 0, C1 35, A2 11, B2 0, C2 36.
MeasurementGroup Known() {
    MeasurementGroup g;
    g.pairAngles = {359, 7, 360, 120, 1000, 0};
    g.indicators = {true, false, false, false, false, true};
    g.voltages = {10, 0, 35, 11, 0, 36};
    return g;
}
const Bytes kKnownAngles = {0x01, 0x67, 0x00, 0x07, 0x01, 0x68, 0x00, 0x78, 0x03, 0xE8, 0x00, 0x00};
Bytes KnownBlocks(Bytes indicators, Bytes voltages) {
    Bytes b = kKnownAngles;
    b.insert(b.end(), indicators.begin(), indicators.end());
    b.insert(b.end(), voltages.begin(), voltages.end());
    return b;
}

struct ExactCase {
    std::string name;
    std::size_t stored;
    std::optional<uint16_t> reported;
    CountForm form;
    Bytes request;
    Bytes reply;
};

TEST(Instrument, AnswersEachRequestWithExactBytes) {
    const Bytes liveGroup = KnownBlocks({1, 0, 0, 0, 0, 1}, {10, 0, 35, 11, 0, 36});
    // Stored groups list voltages A1, A2, B1, B2, C1, C2.
    const Bytes storedGroup = KnownBlocks({1, 0, 0, 0, 0, 1}, {10, 11, 0, 0, 35, 36});
    // clang-format off
    const std::vector<ExactCase> cases = {
        {"link test", 0, {}, CountForm::Auto, {0xA1, 0x00, 0x01, 0x06, 0x05, 0x55, 0xAA, 0xFD},
                                              {0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFD}},
        {"count 7", 7, {}, CountForm::Auto, {0xA1, 0x00, 0x01, 0x04, 0x02, 0x07},
                                            {0xB1, 0x01, 0x00, 0x05, 0x02, 0x07, 0x01}},
        {"count 10 two bytes", 10, {}, CountForm::TwoByte, Request(1, 2),
                                            {0xB1, 0x01, 0x00, 0x06, 0x02, 0x00, 0x0A, 0x0F}},
        {"count 0", 0, {}, CountForm::Auto, Request(1, 2), Reply(2, {0x00})},
        {"count 300 needs two bytes", 300, {}, CountForm::Auto, Request(1, 2), Reply(2, {1, 0x2C})},
        {"count 300 forced into one", 300, {}, CountForm::OneByte, Request(1, 2), Reply(2, {0x2C})},
        {"reported 0x8001", 2, 0x8001, CountForm::Auto, Request(1, 2), Reply(2, {0x80, 0x01})},
        {"live", 0, {}, CountForm::Auto, {0xA1, 0x00, 0x01, 0x04, 0x06, 0x03}, Reply(6, liveGroup)},
        {"history 0..0", 1, {}, CountForm::Auto, History(0, 1), Reply(1, storedGroup)},
        {"history past the end", 1, {}, CountForm::Auto, History(5, 3), Reply(1, {})},
        {"broadcast query", 0, {}, CountForm::Auto, Request(0xFF, 3), Reply(3, {0x00})},
        {"broadcast command", 0, {}, CountForm::Auto, Request(0xFF, 4, {0x42}), Reply(4, {0x42})},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Instrument inst;
        inst.setLiveSequence({Known()});
        inst.setStoredGroups(std::vector<MeasurementGroup>(c.stored, Known()));
        inst.setReportedCount(c.reported);
        inst.setCountForm(c.form);
        const auto out = inst.feed(c.request, 100);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].bytes, c.reply);
        EXPECT_EQ(out[0].delayUs, inst.turnaroundMs() * 1000);
        ASSERT_EQ(inst.requests().size(), 1u);
        EXPECT_EQ(inst.requests()[0].timeUs, 100);
        EXPECT_EQ(inst.requests()[0].code, c.request[4]);
    }
}

TEST(Instrument, HistoryBlocksCarryStoredGroupsInOrderAndDownloadIsLogged) {
    Instrument inst;
    const auto stored = MakeStoredHistory(7, 42);
    inst.setStoredGroups(stored);
    const struct {
        uint16_t start, count;
        std::size_t groups;
    } blocks[] = {{0, 3, 3}, {3, 3, 3}, {6, 1, 1}, {6, 3, 1}, {0, 12, 7}, {0xFFFF, 0xFFFF, 0}};
    int64_t t = 0;
    for (const auto& b : blocks) {
        const auto out = inst.feed(History(b.start, b.count), t += 100'000);
        ASSERT_EQ(out.size(), 1u);
        const Bytes& f = out[0].bytes;
        ASSERT_EQ(f.size(), 6 + 24 * b.groups);
        EXPECT_EQ(f[3], f.size() - 2);
        EXPECT_EQ(WithXor(Bytes(f.begin(), f.end() - 1)), f);
        for (std::size_t g = 0; g < b.groups; ++g) {
            const auto got = ck::measure::DecodeGroup(f, GroupAt(g), Source::Stored);
            ASSERT_TRUE(got.has_value());
            EXPECT_EQ(*got, stored[b.start + g]) << "group " << b.start + g;
        }
    }
    // More than ten groups would not fit the length byte.
    inst.setStoredGroups(MakeStoredHistory(30));
    EXPECT_EQ(inst.feed(History(0, 12), 1'000'000)[0].bytes.size(), 6u + 240u);

    std::vector<std::pair<uint16_t, uint16_t>> asked;
    for (const auto& r : inst.requests()) asked.emplace_back(r.start, r.count);
    EXPECT_EQ(asked, (std::vector<std::pair<uint16_t, uint16_t>>{
                         {0, 3}, {3, 3}, {6, 1}, {6, 3}, {0, 12}, {0xFFFF, 0xFFFF}, {0, 12}}));
}

TEST(Instrument, LiveSequenceCyclesAndEmptyOneReportsNoReading) {
    Instrument inst;
    MeasurementGroup a = Known(), b = Known();
    b.voltages[0] = 99;
    inst.setLiveSequence({a, b});
    for (const auto& want : {a, b, a}) {
        const auto out = inst.feed(Request(1, 6), 0);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(ck::measure::DecodeGroup(out[0].bytes, GroupAt(0), Source::Live), want);
    }
    inst.setLiveSequence({});
    const auto none =
        ck::measure::DecodeGroup(inst.feed(Request(1, 6), 0).at(0).bytes, GroupAt(0), Source::Live);
    ASSERT_TRUE(none.has_value());
    for (const auto angle : none->pairAngles) EXPECT_EQ(angle, ck::measure::NoAngle);
    for (const auto kv : none->voltages) EXPECT_EQ(kv, 0);
}

TEST(Instrument, FindsRequestsInAnyChunkingAndAmongGarbage) {
    const Bytes link = Request(1, 5, {0x55, 0xAA});
    const struct {
        std::string name;
        std::vector<Bytes> chunks;
        std::size_t replies;
    } cases[] = {
        {"byte by byte", {{0xA1}, {0x00}, {0x01}, {0x06}, {0x05}, {0x55}, {0xAA}, {0xFD}}, 1},
        {"two requests in one chunk", {Concat({{1, link}, {1, Request(1, 6)}})}, 2},
        {"noise first", {{0x00, 0xFF, 0x13, 0xB1}, link}, 1},
        {"stray start bytes", {{0xA1, 0xA1}, link}, 1},
        // A plausible header that claims 10 bytes must not swallow the real request after it.
        {"false header", {{0xA1, 0x00, 0x01, 0x08}, link}, 1},
        {"wrong address", {Request(2, 5, {0x55, 0xAA})}, 0},
        {"broadcast live", {Request(0xFF, 6)}, 0},
        {"not from the application", {{0xA1, 0x02, 0x01, 0x04, 0x06, 0x01}}, 0},
        {"bad checksum", {{0xA1, 0x00, 0x01, 0x06, 0x05, 0x55, 0xAA, 0xFE}}, 0},
        {"unknown code", {Request(1, 7)}, 0},
        {"live with a parameter", {Request(1, 6, {0x00})}, 0},
        {"length too short", {WithXor({0xA1, 0x00, 0x01, 0x02})}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Instrument inst;
        std::vector<Delivery> out;
        for (const auto& chunk : c.chunks) {
            auto more = inst.feed(chunk, 5000);
            out.insert(out.end(), more.begin(), more.end());
        }
        EXPECT_EQ(out.size(), c.replies);
        EXPECT_EQ(inst.requests().size(), c.replies);
        // Whatever came before, the next request is answered.
        EXPECT_EQ(inst.feed(link, 10'000).size(), 1u);
    }
}

TEST(Instrument, ForgetsAHalfRequestAfterALongGap) {
    Instrument inst;
    EXPECT_TRUE(inst.feed(Bytes{0xA1, 0x00, 0x01, 0x06, 0x05}, 0).empty());
    // The rest of the link test, too late: only the fresh live request is answered.
    Bytes late = {0x55, 0xAA, 0xFD};
    const Bytes live = Request(1, 6);
    late.insert(late.end(), live.begin(), live.end());
    const auto out = inst.feed(late, 500'000);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes[4], 6);
}

TEST(Instrument, LinePacingTimesBytesAsA9600BaudLine) {
    Instrument inst;
    inst.setTurnaroundMs(10);
    inst.setLinePacing(true);
    // 8 request bytes take 8333.3 us, the reply starts 10 ms later and takes as long itself;
    // each line time is rounded up to the microsecond.
    auto out = inst.feed(Request(1, 5, {0x55, 0xAA}), 0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].delayUs, 8334 + 10'000 + 8334);

    // Two requests at once: the second reply waits for the line.
    const Bytes two = Concat({{1, Request(1, 6)}, {1, Request(1, 6)}});
    out = inst.feed(two, 1'000'000);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].delayUs, LineTimeUs(6) + 10'000 + LineTimeUs(30));
    EXPECT_EQ(out[1].delayUs, out[0].delayUs + LineTimeUs(30));

    inst.setLinePacing(true, 1);
    out = inst.feed(Request(1, 5, {0x55, 0xAA}), 5'000'000);
    ASSERT_EQ(out.size(), 8u);
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i].delayUs, 8334 + 10'000 + LineTimeUs(int64_t(i) + 1));
    EXPECT_EQ(Concat(out), Reply(5, {0x55, 0xAA}));
}

// Copies of replies, and every frame on the paced line: one at a time, each whole, a reply
// going at its own time when the line is free for all of it and after what is in the way when
// not. A copy sent later goes once it is ready, after whatever is on the line by then, so it
// never holds up a reply (a transmitter sends what is ready first).
TEST(Instrument, CopiesAndRepliesShareTheLineOneFrameAtATime) {
    const Bytes live = Request(1, 6);
    const int64_t turn = 10'000;
    const int64_t asked = LineTimeUs(6) + turn;  // a live reply begins this long after
    const int64_t reply = LineTimeUs(30);        // and lasts this long
    struct Sent {
        int64_t atUs;                      // when the request is fed
        std::vector<int64_t> deliveredUs;  // when each delivery's last byte arrives
    };
    struct Case {
        const char* what;
        FaultRule rule;
        std::vector<Sent> sent;
        std::vector<int64_t> laterUs;  // the later copies, when each last byte arrives
    };
    const auto dup = [](int64_t afterMs, int times) {
        return Rule(Fault::Duplicate, [=](FaultRule& r) {
            r.duplicateAfterMs = afterMs;
            r.times = times;
        });
    };
    const int64_t end1 = asked + reply;  // the first reply's last byte
    const Case cases[] = {
        {"back to back", dup(0, -1), {{0, {end1, end1 + reply}}}, {}},
        {"50 ms after", dup(50, -1), {{0, {end1}}}, {end1 + 50'000 + reply}},
        {"a reply placed before a copy is ready goes first, the copy after it",
         dup(5, 1),
         {{0, {end1}}, {40'000, {40'000 + asked + reply}}},
         {40'000 + asked + 2 * reply}},
        {"a copy ready before the next request goes first, the reply after it",
         dup(5, 1),
         {{0, {end1}}, {end1 + 6'000, {end1 + 5'000 + reply, end1 + 5'000 + 2 * reply}}},
         {}},
        {"limited to the second reply",
         Rule(Fault::Duplicate,
              [](FaultRule& r) {
                  r.skip = 1;
                  r.times = 1;
              }),
         {{0, {end1}},
          {100'000, {100'000 + end1, 100'000 + end1 + reply}},
          {200'000, {200'000 + end1}}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Instrument inst;
        inst.setLiveSequence({});
        inst.setTurnaroundMs(turn / 1000);
        inst.setLinePacing(true);
        inst.addFault(c.rule);
        const auto check = [](const std::vector<Delivery>& out, int64_t fedUs) {
            std::vector<int64_t> at;
            for (const Delivery& d : out) {
                at.push_back(fedUs + d.delayUs);
                // Whole frames, copies byte for byte a reply.
                EXPECT_EQ(WithXor(Bytes(d.bytes.begin(), d.bytes.end() - 1)), d.bytes);
                EXPECT_EQ(d.bytes.size(), 30u);
            }
            return at;
        };
        for (const Sent& sent : c.sent) {
            EXPECT_EQ(check(inst.feed(live, sent.atUs), sent.atUs), sent.deliveredUs);
        }
        std::vector<int64_t> later;
        while (const auto due = inst.nextDueUs()) {
            for (const int64_t t : check(inst.due(*due), *due)) later.push_back(t);
        }
        EXPECT_EQ(later, c.laterUs);
    }
}

TEST(Instrument, RequestBytesWrittenInPiecesFollowEachOtherOnTheLine) {
    Instrument inst;
    inst.setLinePacing(true);
    const Bytes link = Request(1, 5, {0x55, 0xAA});
    EXPECT_TRUE(inst.feed(Bytes(link.begin(), link.begin() + 3), 0).empty());
    const auto out = inst.feed(Bytes(link.begin() + 3, link.end()), 0);  // written at once
    ASSERT_EQ(out.size(), 1u);
    // The last byte is heard after all eight have crossed, not five.
    EXPECT_EQ(inst.requests().at(0).timeUs, LineTimeUs(3) + LineTimeUs(5));
    EXPECT_EQ(out[0].delayUs, LineTimeUs(3) + LineTimeUs(5) + 10'000 + LineTimeUs(8));
}

// Through the port: the instrument on COM1 and a receive handler that records each event.
struct Bench {
    ck::platform::VirtualClock clock;
    Instrument inst;
    SimPort port{clock, inst, 1};
    struct Event {
        int64_t t;
        Bytes bytes;
    };
    std::vector<Event> events;

    Bench() {
        inst.setTurnaroundMs(10);
        port.setReceiveHandler([this] {
            events.push_back({clock.nowMs(), port.inputWithArrivals().bytes});
        });
    }
    void send(const Bytes& request, int threshold) {
        if (!port.isOpen()) {
            EXPECT_EQ(port.open(), ck::platform::kPortOk);
        }
        port.setRThreshold(threshold);
        EXPECT_TRUE(port.output(request));
    }
};

TEST(SimPort, EachMisbehaviourShowsOnTheBytesReceived) {
    const Bytes link = Request(1, 5, {0x55, 0xAA});
    const Bytes good = Reply(5, {0x55, 0xAA});
    Bytes bad = good;
    bad.back() = static_cast<uint8_t>(~bad.back());
    Bytes noisy = {0x00, 0xFF, 0x5A};
    noisy.insert(noisy.end(), good.begin(), good.end());
    FaultRule chunked = Rule(Fault::Chunked);
    chunked.chunks = 3;
    chunked.chunkGapMs = 5;
    const struct {
        std::string name;
        FaultRule rule;
        int threshold;
        std::vector<std::pair<int64_t, Bytes>> events;  // time after the request, bytes
    } cases[] = {
        // clang-format off
        {"none", Rule(Fault::Silence, [](FaultRule& r) { r.times = 0; }), 8, {{10, good}}},
        {"silence", Rule(Fault::Silence), 8, {}},
        {"wrong receiver", Rule(Fault::WrongReceiver, [](FaultRule& r) { r.receiver = 2; }), 8,
         {{10, Reply(5, {0x55, 0xAA}, 2)}}},
        {"bad checksum", Rule(Fault::BadChecksum), 8, {{10, bad}}},
        {"noise", Rule(Fault::Noise, [](FaultRule& r) { r.noiseBytes = 3; }), 8, {{10, noisy}}},
        {"chunks, event at the threshold", chunked, 8, {{20, good}}},
        {"chunks, event per chunk", chunked, 1, {{10, {good.begin(), good.begin() + 3}},
                                                 {15, {good.begin() + 3, good.begin() + 6}},
                                                 {20, {good.begin() + 6, good.end()}}}},
        {"late", Rule(Fault::Late, [](FaultRule& r) { r.lateMs = 3000; }), 8, {{3000, good}}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        b.inst.addFault(c.rule);
        b.clock.advance(100);
        b.send(link, c.threshold);
        b.clock.advance(5000);
        ASSERT_EQ(b.events.size(), c.events.size());
        for (std::size_t i = 0; i < c.events.size(); ++i) {
            EXPECT_EQ(b.events[i].t - 100, c.events[i].first);
            EXPECT_EQ(b.events[i].bytes, c.events[i].second);
        }
        EXPECT_EQ(b.port.inBufferCount(), 0u);
    }
}

TEST(SimPort, ShortBlockStaysBelowTheThresholdOfTheBlockAsked) {
    for (const std::size_t groups : {std::size_t{0}, std::size_t{2}}) {
        SCOPED_TRACE(groups);
        Bench b;
        b.inst.setStoredGroups(MakeStoredHistory(9));
        b.inst.addFault(Rule(Fault::ShortBlock, [groups](FaultRule& r) { r.groups = groups; }));
        b.send(History(0, 3), 6 + 24 * 3);
        b.clock.advance(3000);
        EXPECT_TRUE(b.events.empty());
        ASSERT_EQ(b.port.inBufferCount(), 6 + 24 * groups);
        const Bytes got = b.port.inputWithArrivals().bytes;
        EXPECT_EQ(got[3], got.size() - 2);
        EXPECT_EQ(WithXor(Bytes(got.begin(), got.end() - 1)), got);
    }
}

TEST(SimPort, FaultCanBeAimedAtExactlyTheSecondBlock) {
    Bench b;
    b.inst.setStoredGroups(MakeStoredHistory(7));
    FaultRule second = Rule(Fault::Silence);
    second.onlyCode = 1;
    second.skip = 1;
    second.times = 1;
    b.inst.addFault(second);
    const std::vector<Bytes> requests = {Request(1, 6), History(0, 3), Request(1, 6),
                                         History(3, 3), History(6, 1), History(3, 3)};
    std::vector<bool> answered;
    for (const auto& r : requests) {
        b.events.clear();
        b.send(r, 1);
        b.clock.advance(100);
        answered.push_back(!b.events.empty());
    }
    EXPECT_EQ(answered, (std::vector<bool>{true, true, true, false, true, true}));
    EXPECT_EQ(b.inst.faultsApplied(Fault::Silence), 1u);
}

// A reply on its way arrives whenever the instrument's port is open, a reopening included,
// as on a real line; on a closed port, or with another port opened, it is lost.
TEST(SimPort, ReplyOnItsWayArrivesOnlyOnTheOpenInstrumentPort) {
    const Bytes link = Request(1, 5, {0x55, 0xAA});
    struct Case {
        const char* what;
        bool closeAt5ms;
        std::optional<int16_t> reopenAt5ms;  // the port opened at 5 ms
        bool arrives;
    };
    const Case cases[] = {
        {"closed when it arrives", true, std::nullopt, false},
        {"closed and opened again before", true, int16_t{1}, true},
        {"opened again without a close", false, int16_t{1}, true},
        {"another port opened", true, int16_t{2}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        b.port.addEmptyPort(2);
        b.send(link, 8);  // the reply comes 10 ms later
        b.clock.advance(5);
        if (c.closeAt5ms) b.port.close();
        if (c.reopenAt5ms) {
            b.port.setCommPort(*c.reopenAt5ms);
            ASSERT_EQ(b.port.open(), ck::platform::kPortOk);
            b.port.setRThreshold(8);
        }
        b.clock.advance(100);
        ASSERT_EQ(b.events.size(), c.arrives ? 1u : 0u);
        if (c.arrives) {
            EXPECT_EQ(b.events[0].bytes, Reply(5, {0x55, 0xAA}));
        }
        EXPECT_EQ(b.port.inBufferCount(), 0u);
    }
}

TEST(SimPort, PortNumbersAndWrittenFrames) {
    ck::platform::VirtualClock clock;
    Instrument inst;
    SimPort port(clock, inst, 3);
    port.addEmptyPort(1);
    port.addEmptyPort(2);
    port.setPortBusy(5);
    const struct {
        int16_t n;
        int err;
    } opens[] = {{1, 0}, {2, 0}, {3, 0}, {4, 8002}, {5, 8005}, {16, 8002}};
    for (const auto& o : opens) {
        port.setCommPort(o.n);
        EXPECT_EQ(port.open(), o.err) << "COM" << o.n;
        port.output(Request(1, 5, {0x55, 0xAA}));
        clock.advance(600);
    }
    std::vector<int16_t> ports;
    for (const auto& w : port.written()) ports.push_back(w.commPort);
    EXPECT_EQ(ports, (std::vector<int16_t>{1, 2, 3}));
    EXPECT_EQ(port.written()[2].timeMs, 1200);
    EXPECT_EQ(port.written()[2].bytes, Request(1, 5, {0x55, 0xAA}));
    EXPECT_EQ(inst.requests().size(), 1u);  // only COM3 has the instrument on it
    port.setPortBusy(5, false);
    port.setCommPort(5);
    EXPECT_EQ(port.open(), 8002);
}

TEST(SimPort, ReceiveEventIsPostedNeverRaisedInsideTheCall) {
    Bench b;
    b.send(Request(1, 5, {0x55, 0xAA}), 0);
    b.clock.advance(50);
    ASSERT_EQ(b.port.inBufferCount(), 8u);
    b.port.setRThreshold(8);
    EXPECT_TRUE(b.events.empty());
    b.clock.advance(0);
    EXPECT_EQ(b.events.size(), 1u);

    // A port gone before its posted event or its pending reply runs leaves nothing behind.
    auto clock = std::make_unique<ck::platform::VirtualClock>();
    Instrument inst;
    auto port = std::make_unique<SimPort>(*clock, inst, 1);
    ASSERT_EQ(port->open(), 0);
    port->output(Request(1, 6));
    clock->advance(50);
    port->output(Request(1, 6));
    port->setRThreshold(1);  // posts the event for the bytes already waiting
    EXPECT_EQ(port->pendingDeliveries(), 1u);
    port.reset();
    clock->advance(100);
}

TEST(Instrument, RandomFaultsAreDeterministicPerSeed) {
    const auto run = [](uint64_t seed, double p, std::vector<Fault> kinds) {
        Instrument inst;
        inst.setStoredGroups(MakeStoredHistory(9));
        inst.setRandomFaults({seed, p, std::move(kinds)});
        std::vector<std::vector<Delivery>> all;
        for (int i = 0; i < 300; ++i) {
            all.push_back(
                inst.feed(i % 2 ? History(uint16_t(i % 3 * 3), 3) : Request(1, 6), i * 100'000));
        }
        std::size_t faults = 0;
        for (std::size_t k = 0; k < kFaultKinds; ++k) faults += inst.faultsApplied(Fault(k));
        return std::pair(all, faults);
    };
    const RandomFaults defaults;
    const auto a = run(7, 0.3, defaults.kinds);
    EXPECT_EQ(a, run(7, 0.3, defaults.kinds));
    EXPECT_NE(a.first, run(8, 0.3, defaults.kinds).first);
    EXPECT_GT(a.second, 50u);
    EXPECT_LT(a.second, 130u);
    EXPECT_EQ(run(7, 0.0, defaults.kinds).second, 0u);
    // Every reply spoiled, and only as asked.
    const auto sums = run(3, 1.0, {Fault::BadChecksum});
    EXPECT_EQ(sums.second, 300u);
    for (const auto& out : sums.first) {
        ASSERT_EQ(out.size(), 1u);
        EXPECT_NE(WithXor(Bytes(out[0].bytes.begin(), out[0].bytes.end() - 1)), out[0].bytes);
    }
}

TEST(Groups, DemoDataIsPlausible) {
    using ck::measure::ClassifyPhase;
    using ck::measure::ClassifySequence;
    const auto history = MakeStoredHistory(250, 9);
    EXPECT_EQ(history, MakeStoredHistory(250, 9));
    EXPECT_NE(history, MakeStoredHistory(250, 10));
    auto live = DefaultLiveSequence();
    std::vector<MeasurementGroup> all = history;
    all.insert(all.end(), live.begin(), live.end());
    std::size_t inPhase = 0, crossed = 0, missingAngle = 0, at10 = 0, at35 = 0;
    for (const auto& g : all) {
        for (const auto a : g.pairAngles) {
            EXPECT_TRUE(a >= 0 && a <= 360) << a;
            missingAngle += a == 360;
        }
        for (const auto kv : g.voltages) {
            at10 += kv >= 9 && kv <= 12;
            at35 += kv >= 34 && kv <= 37;
        }
        if (ClassifyPhase(g.pairAngles[0]) == "同相" && ClassifyPhase(g.pairAngles[1]) == "同相" &&
            ClassifyPhase(g.pairAngles[2]) == "同相" &&
            ClassifySequence(g.pairAngles[3]) == "顺相序") {
            ++inPhase;
        }
        crossed += ClassifyPhase(g.pairAngles[1]) == "异相";
    }
    EXPECT_GT(inPhase, all.size() / 2);
    EXPECT_GT(crossed, 20u);
    EXPECT_GT(missingAngle, 10u);
    EXPECT_GT(at10, 500u);
    EXPECT_GT(at35, 500u);
    // The live view changes: an in-phase reading first, a crossed one later.
    EXPECT_EQ(ClassifyPhase(live.front().pairAngles[1]), "同相");
    EXPECT_EQ(ClassifyPhase(live[3].pairAngles[1]), "异相");
}

}  // namespace
