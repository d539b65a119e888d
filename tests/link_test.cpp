// SPDX-License-Identifier: MIT
// The link driven byte for byte: the exact reply vectors and the faults a bad line can cause.

#include <gtest/gtest.h>

#include "link/frames.h"
#include "link/link.h"
#include "link_fakes.h"

namespace ck::testing {
namespace {

using app::Control;
using measure::MeasurementGroup;

Bytes reply(uint8_t code, const Bytes& payload) { return Reply(code, payload); }

// Bytes after a frame (line noise, an instrument's filler) bring the count up to the
// receive threshold, so a frame shorter than the one asked for still gets examined.
Bytes pad(Bytes b, std::size_t size) {
    b.resize(std::max(b.size(), size), 0x00);
    return b;
}

MeasurementGroup storedGroup(int i) {
    MeasurementGroup g;
    g.pairAngles = {static_cast<int16_t>(i % 360), 120, 240, 5, 360, 359};
    g.voltages = {static_cast<uint8_t>(i % 255 + 1), 10, 35, 0, 11, 36};
    return g;
}

Bytes blockPayload(int first, int count) {
    Bytes p;
    for (int i = first; i < first + count; ++i) {
        const auto g = measure::EncodeGroup(storedGroup(i), measure::Source::Stored);
        p.insert(p.end(), g.begin(), g.end());
    }
    return p;
}

struct Rig {
    platform::VirtualClock clock;
    ScriptedPort port{clock};
    RecordingWindow ui;
    link::Link link{port, clock, ui};
    const link::LinkState& s = link.state();

    Rig() { link.start(); }

    // Instrument on COM3 answering link tests, live requests and history requests for
    // `stored` groups; found and polling when this returns.
    void linkUp(int stored = 7) {
        port.present = {3};
        port.responder = [this, stored](const Bytes& req) -> std::vector<Bytes> {
            switch (CodeOf(req)) {
                case protocol::kCodeLinkTest:
                    return {reply(5, {0x55, 0xAA})};
                case protocol::kCodeLive:
                    return {reply(6, Bytes(24, 0))};
                case protocol::kCodeCount:
                    return {reply(2, {static_cast<uint8_t>(stored)})};
                case protocol::kCodeHistory: {
                    const auto [start, asked] = *BlockOf(req);
                    const int count = std::min(asked, stored - start);
                    return {reply(1, blockPayload(start, std::max(0, count)))};
                }
            }
            return {};
        };
        clock.advance(2400);
        ASSERT_TRUE(s.linkok);
        ASSERT_EQ(s.portno, 3);
    }

    void toHistoryView() { link.setView(link::View::History); }

    std::vector<std::pair<int, int>> blockRequests() const {
        std::vector<std::pair<int, int>> out;
        for (const auto& w : port.writes) {
            if (const auto block = BlockOf(w.bytes)) out.push_back(*block);
        }
        return out;
    }
};

// The exchange as the receive event sees it: a request on an open port, then these bytes.
void exchange(Rig& r, uint8_t code, const Bytes& bytes) {
    r.port.present = {1};
    r.link.ComOpen(1);
    r.link.ComSend(1, code, 0, 0, 0);
    r.port.inject(bytes);
    r.clock.advance(1);
}

TEST(Reception, NoiseBeforeTheStartByteIsSkipped) {
    Rig r;
    exchange(r, 5, {0x00, 0xFF, 0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFD});
    EXPECT_EQ(r.s.rxcount, 10);
    EXPECT_TRUE(r.s.linkok);
    EXPECT_EQ(r.s.commstate, link::kCommAccepted);
    EXPECT_FALSE(r.link.Timer_timeout().enabled());
    EXPECT_FALSE(r.port.isOpen());
}

TEST(Reception, RejectedRepliesEndInTheTimeOut) {
    struct Case {
        const char* what;
        Bytes bytes;
        uint8_t commstate;
    };
    const Case cases[] = {
        {"receiver not us", {0x00, 0xFF, 0xB1, 0x01, 0x01, 0x06, 0x05, 0x55, 0xAA, 0xFD}, 1},
        {"bad checksum", {0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFC}, 3},
        {"no start byte", Bytes(8, 0x00), 1},
        // Not an answer to the link test: passed over, the reply still awaited.
        {"unknown code", reply(9, {0x55, 0xAA}), 1},
        {"length under a header", {0xB1, 0x01, 0x00, 0x02, 0x03, 0x00, 0x00, 0x00}, 1},
        {"link test without room for its pattern", pad(reply(5, {}), 8), 2},
    };
    for (const auto& c : cases) {
        Rig r;
        r.clock.advance(2600);  // past the start-up time-out
        exchange(r, 5, c.bytes);
        EXPECT_EQ(r.ui.linkStatus.back(), "通讯成功") << c.what;  // any bytes count as contact
        EXPECT_FALSE(r.s.linkok) << c.what;
        EXPECT_EQ(r.s.commstate, c.commstate) << c.what;
        r.clock.advance(2500);
        EXPECT_EQ(r.ui.linkStatus.back(), "通讯失败") << c.what;
        EXPECT_EQ(r.s.commstate, link::kCommTimedOut) << c.what;
    }
}

TEST(Reception, LinkTestWithWrongPatternStopsTheTimeOutButConfirmsNothing) {
    Rig r;
    r.clock.advance(2600);
    exchange(r, 5, reply(5, {0x55, 0xAB}));
    EXPECT_FALSE(r.s.linkok);
    EXPECT_FALSE(r.link.Timer_timeout().enabled());
}

TEST(Reception, CountForms) {
    struct Case {
        Bytes bytes;
        int16_t histcount;
    };
    const Case cases[] = {
        {{0xB1, 0x01, 0x00, 0x05, 0x02, 0x07, 0x01}, 7},
        {{0xB1, 0x01, 0x00, 0x06, 0x02, 0x00, 0x0A, 0x0F}, 10},
        {reply(2, {0x01, 0x2C}), 300},
        {reply(2, {0x80, 0x01}), 0x7FFF},  // too large to hold: saturates, never negative
    };
    for (const auto& c : cases) {
        Rig r;
        exchange(r, 2, c.bytes);
        EXPECT_EQ(r.s.histcount, c.histcount);
        // The count starts the download: the first block is asked for at once.
        ASSERT_FALSE(r.port.writes.empty());
        EXPECT_EQ(r.port.writes.back().bytes[4], 1);
    }
}

TEST(Reception, ReplyLongerThanTheCountersAndBuffersIsHandledSafely) {
    Rig r;
    Bytes flood(300, 0xB1);  // start bytes everywhere, lengths that point past every buffer
    exchange(r, 6, flood);
    EXPECT_EQ(r.s.rxcount, 255);
    EXPECT_TRUE(r.ui.shown.empty());
    Bytes junkThenFrame(280, 0x00);
    const Bytes f = reply(5, {0x55, 0xAA});
    junkThenFrame.insert(junkThenFrame.end(), f.begin(), f.end());
    exchange(r, 5, junkThenFrame);  // the junk is passed over, the frame behind it found
    EXPECT_EQ(r.s.rxcount, 255);
    EXPECT_TRUE(r.s.linkok);
}

TEST(Reception, FrameCutShortByTheThresholdWaitsForItsRest) {
    Rig r;
    r.port.present = {1};
    r.link.ComOpen(1);
    r.link.ComSend(1, 5, 0, 0, 0);
    r.port.inject({0x00, 0x00, 0x00, 0xB1, 0x01, 0x00, 0x06, 0x05});  // 8 = replylen, not whole
    r.clock.advance(1);
    EXPECT_TRUE(r.port.isOpen());
    EXPECT_FALSE(r.s.linkok);
    r.port.inject({0x55, 0xAA});
    r.clock.advance(1);
    EXPECT_FALSE(r.s.linkok);  // one byte still missing
    r.port.inject({0xFD});
    r.clock.advance(1);
    EXPECT_TRUE(r.s.linkok);
    EXPECT_FALSE(r.port.isOpen());
}

// On a real line the threshold can be met before the length byte is in: the header is waited
// for, then the rest; a header that turns out malformed is rejected then.
TEST(Reception, FrameCutInsideItsHeaderWaitsForTheHeaderThenItsRest) {
    const Bytes good = {0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFD};
    const Bytes malformed = {0xB1, 0x01, 0x00, 0x02, 0x05, 0x55, 0xAA, 0xFD};
    struct Case {
        const char* what;
        std::size_t noise;  // bytes in front of the frame: 8 - noise of it come with the first 8
        Bytes frame;
        bool accepted;
    };
    const Case cases[] = {
        {"start byte only", 7, good, true},
        {"start and sender", 6, good, true},
        {"all but the length byte", 5, good, true},
        {"malformed length", 6, malformed, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        r.port.present = {1};
        r.link.ComOpen(1);
        r.link.ComSend(1, 5, 0, 0, 0);
        Bytes line(c.noise, 0x00);
        line.insert(line.end(), c.frame.begin(), c.frame.end());
        r.port.inject(Bytes(line.begin(), line.begin() + 8));
        r.clock.advance(1);
        for (std::size_t i = 8; i < line.size() && r.port.isOpen(); ++i) {
            EXPECT_FALSE(r.s.linkok) << "accepted before byte " << i;
            r.port.inject({line[i]});
            r.clock.advance(1);
        }
        EXPECT_EQ(r.s.linkok, c.accepted);
        // A frame that cannot be one is passed over, and the port kept for the reply.
        EXPECT_EQ(r.port.isOpen(), !c.accepted);
        EXPECT_EQ(r.link.Timer_timeout().enabled(), !c.accepted);
    }
}

TEST(Reception, ShortLiveReplyNeverShowsOlderBytes) {
    Rig r;
    Bytes payload(24, 0);
    payload[18] = 99;
    exchange(r, 6, reply(6, payload));
    ASSERT_EQ(r.ui.shown.size(), 1u);
    exchange(r, 6, reply(6, Bytes(20, 0)));  // n = 26: the group would be read from stale bytes
    EXPECT_EQ(r.ui.shown.size(), 1u);
    EXPECT_TRUE(r.link.Timer_timeout().enabled());
}

TEST(Reception, LiveReadingThatDoesNotDecodeIsNeverHandedUp) {
    Rig r;
    Bytes good(24, 0);
    good[18] = 42;
    exchange(r, 6, reply(6, good));
    ASSERT_EQ(r.ui.shown.size(), 1u);
    for (std::size_t k = 0; k < 6; ++k) {
        Bytes bad = good;
        bad[2 * k] = 0x80;  // angle word k cannot be represented
        exchange(r, 6, reply(6, bad));
        EXPECT_EQ(r.ui.shown.size(), 1u) << "angle word " << k;
        // The reply itself was whole and for us: it answers the request.
        EXPECT_EQ(r.s.commstate, link::kCommAccepted) << "angle word " << k;
        EXPECT_FALSE(r.link.Timer_timeout().enabled()) << "angle word " << k;
    }
}

// A request on COM1; the bytes the test then puts on the line.
struct Exchange {
    Rig r;

    explicit Exchange(uint8_t code) {
        r.clock.advance(2600);  // past the start-up time-out
        r.port.present = {1};
        r.link.ComOpen(1);
        r.link.ComSend(1, code, 0, 3, 0);
    }
};

// Frames that do not answer the request, or cannot be frames, are passed over and the reply
// behind them is found in the same bytes.
TEST(Reception, ReplyIsFoundBehindWhatDoesNotAnswerTheRequest) {
    const Bytes count = reply(protocol::kCodeCount, {0x07});
    Bytes lengthy = {0xB1, 0x01, 0x00, 0xC0};  // announces 194 bytes that never come
    Bytes wrongReceiver = count;
    wrongReceiver[protocol::kReceiverAt] = 0x01;
    Bytes damaged = reply(protocol::kCodeCount, {0x09});
    damaged.back() ^= 0xFF;
    struct Case {
        const char* what;
        std::vector<Bytes> before;  // in front of the count reply, in the same bytes
    };
    const Case cases[] = {
        {"a link-test reply", {reply(protocol::kCodeLinkTest, {0x55, 0xAA})}},
        {"a live reply and a history block",
         {reply(protocol::kCodeLive, Bytes(24, 0)),
          reply(protocol::kCodeHistory, blockPayload(0, 1))}},
        {"a reply for another receiver", {wrongReceiver}},
        {"a damaged count", {damaged}},
        {"a start byte announcing more than comes", {lengthy}},
        {"an unknown code", {reply(0x09, {0x01})}},
        {"noise", {Bytes{0x00, 0xB1, 0xB1, 0x7E}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Exchange x(protocol::kCodeCount);
        Bytes all;
        for (const Bytes& b : c.before) all.insert(all.end(), b.begin(), b.end());
        all.insert(all.end(), count.begin(), count.end());
        x.r.port.inject(all);
        x.r.clock.advance(1);
        // Taken: the count is kept and the download's progress shown.
        EXPECT_EQ(x.r.s.histcount, 7);
        EXPECT_EQ(x.r.ui.progressMax, 7);
        EXPECT_TRUE(x.r.ui.isVisible(Control::Progress_read));
    }
}

// A reply that comes byte for byte the same as one taken for another question is held back
// for a short while: a late copy stands in front of the reply it would displace. The table:
// what the instrument sends in answer to the block at 3 of a 9-group download, and how the
// download ends.
TEST(Download, LateCopyOfAnEarlierBlockNeverTakesTheNextOnesPlace) {
    const Bytes block0 = reply(1, blockPayload(0, 3));
    const Bytes block3 = reply(1, blockPayload(3, 3));
    const Bytes block6 = reply(1, blockPayload(6, 3));
    struct Case {
        const char* what;
        int asked;                  // the block request answered so
        std::vector<Bytes> answer;  // chunks, each after the one before on the line
        bool sameGroupsAt3;         // the instrument holds groups 0..2 again at 3..5
        std::vector<int> rows;      // rows placed, in order
        bool fails;
    };
    const std::vector<int> all = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const Case cases[] = {
        {"a copy of block 0, then the reply", 3, {block0, block3}, false, all, false},
        {"the copy and the reply in one piece",
         3,
         {[&] {
             Bytes b = block0;
             b.insert(b.end(), block3.begin(), block3.end());
             return b;
         }()},
         false,
         all,
         false},
        {"two copies, then the reply", 6, {block0, block3, block6}, false, all, false},
        {"the same groups stored twice: taken after the hold", 3, {block0}, true, all, false},
        {"two different copies, nothing after: neither is taken",
         6,
         {block0, block3},
         false,
         {1, 2, 3, 4, 5, 6},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        r.linkUp(9);
        auto full = r.port.responder;
        r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
            if (BlockOf(req) == std::pair{c.asked, 3}) return c.answer;
            return full(req);
        };
        r.toHistoryView();
        r.link.requestDownload();
        r.clock.advance(5000);
        std::vector<int> rows;
        for (const auto& [row, group] : r.ui.rows) {
            rows.push_back(row);
            const int truth = c.sameGroupsAt3 && row >= 4 && row <= 6 ? row - 4 : row - 1;
            EXPECT_EQ(group, storedGroup(truth)) << "row " << row;
        }
        EXPECT_EQ(rows, c.rows);
        const auto& st = r.ui.linkStatus;
        EXPECT_EQ(std::find(st.begin(), st.end(), "通讯失败") != st.end(), c.fails);
        EXPECT_TRUE(r.ui.isEnabled(Control::TabStrip1));
        EXPECT_TRUE(r.link.Timer_real().enabled());
        EXPECT_FALSE(r.link.holdTimer().enabled());
    }
}

// Live readings: one equal to the reading shown is shown at once (it changes nothing), one
// that follows a late copy of the last shows at once and the copy never.
TEST(Polling, LateCopyOfTheLastReadingIsNeverShownInsteadOfTheNext) {
    Bytes a(24, 0), b(24, 0);
    a[18] = 10;
    b[18] = 35;
    const Bytes readingA = reply(protocol::kCodeLive, a), readingB = reply(protocol::kCodeLive, b);
    struct Case {
        const char* what;
        std::vector<Bytes> second;  // answer to the second live request
        std::vector<uint8_t> shownKv;
    };
    const Case cases[] = {
        {"a new reading", {readingB}, {10, 35}},
        // The copy equals the shown reading: showing it changes nothing, and the new one
        // behind it still shows.
        {"a late copy, then the new reading", {readingA, readingB}, {10, 10, 35}},
        {"the same reading again", {readingA}, {10, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        r.linkUp();
        int live = 0;
        int64_t secondAskedMs = -1;
        r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
            if (CodeOf(req) != protocol::kCodeLive) return {};
            if (++live == 1) return {readingA};
            if (secondAskedMs < 0) secondAskedMs = r.clock.nowMs();
            return c.second;
        };
        while (r.ui.shown.size() < c.shownKv.size() && r.clock.nowMs() < 10'000) {
            r.clock.advance(1);
        }
        // The second reading shows as soon as its reply is in (5 ms), not after a hold.
        EXPECT_EQ(r.clock.nowMs() - secondAskedMs, 5);
        r.clock.advance(1000);  // and nothing else shows before the next poll
        std::vector<uint8_t> kv;
        for (const auto& g : r.ui.shown) kv.push_back(g.voltages[0]);
        EXPECT_EQ(kv, c.shownKv);
    }
}

TEST(ComOpen, StatusTexts) {
    Rig r;
    r.port.present = {3, 12};
    r.port.busy = {5};
    r.port.refused = {6};
    r.port.failing = {7};
    for (int n : {3, 4, 5, 6, 7, 12}) {
        r.link.ComOpen(static_cast<int16_t>(n));
        // Only an opening that succeeded leaves the port open.
        EXPECT_EQ(r.port.isOpen(), n == 3 || n == 12) << n;
    }
    EXPECT_EQ(r.ui.comStatus,
              (std::vector<std::string>{"COM3已打开", "COM4无效", "COM5被占用", "COM6无权限",
                                        "COM7打开失败", "COM12已打开"}));
}

// Ports that cannot be opened get no link test, whatever the reason; the scan goes on and
// finds the instrument behind them.
TEST(Discovery, SendsTheLinkTestOnlyOnPortsThatOpened) {
    Rig r;
    r.port.busy = {1};
    r.port.refused = {2};
    r.port.failing = {3};
    r.port.present = {5};
    r.port.responder = [](const Bytes& req) -> std::vector<Bytes> {
        if (CodeOf(req) == protocol::kCodeLinkTest) return {reply(5, {0x55, 0xAA})};
        return {};
    };
    r.clock.advance(600 * 6);
    std::vector<int16_t> tested;
    for (const auto& w : r.port.writes) {
        if (CodeOf(w.bytes) == protocol::kCodeLinkTest) tested.push_back(w.port);
    }
    ASSERT_FALSE(tested.empty());
    EXPECT_EQ(tested.front(), 5);
    EXPECT_TRUE(r.s.linkok);
    EXPECT_EQ(r.s.portno, 5);
}

// The first refusal of a run is explained once, after the handler that met it has returned;
// later refusals, on any port, only show in the port status.
TEST(Discovery, RefusedPermissionIsExplainedOncePerRun) {
    struct Case {
        const char* what;
        std::set<int16_t> refused;
        std::size_t boxes;
    };
    const Case cases[] = {
        {"nothing refused", {}, 0},
        {"one port refused", {4}, 1},
        {"every port refused", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        r.port.refused = c.refused;
        r.clock.advance(600 * 16 * 3);  // three whole scans
        EXPECT_EQ(r.ui.refusals.size(), c.boxes);
        if (c.boxes == 0) continue;
        const int16_t first = *c.refused.begin();
        EXPECT_EQ(r.ui.refusals[0].first, first);
        const platform::OpenFailure& failure = r.ui.refusals[0].second;
        EXPECT_EQ(failure.device, "/dev/ttyUSB" + std::to_string(first));
        EXPECT_EQ(failure.account, "alice");
        EXPECT_EQ(failure.group, "dialout");
        const std::string status = "COM" + std::to_string(first) + "无权限";
        EXPECT_EQ(std::count(r.ui.comStatus.begin(), r.ui.comStatus.end(), status), 3);
    }
}

TEST(Discovery, PermissionBoxNeverOpensInsideTheOpeningNorAfterTheLinkStopped) {
    Rig r;
    r.port.refused = {9};
    r.link.ComOpen(9);
    EXPECT_TRUE(r.ui.refusals.empty());  // a modal box here would run ticks inside ComOpen
    r.clock.advance(1);
    EXPECT_EQ(r.ui.refusals.size(), 1u);

    Rig stopped;
    stopped.port.refused = {9};
    stopped.link.ComOpen(9);
    stopped.link.stop();
    stopped.clock.advance(1);
    EXPECT_TRUE(stopped.ui.refusals.empty());

    // Posted work that outlives its link does nothing.
    platform::VirtualClock clock;
    ScriptedPort port{clock};
    RecordingWindow ui;
    {
        link::Link gone{port, clock, ui};
        port.refused = {9};
        gone.ComOpen(9);
    }
    clock.advance(1);
    EXPECT_TRUE(ui.refusals.empty());
}

TEST(ComSend, EveryCallAwaitsAReplyAndArmsTheTimeOut) {
    for (int c = 0; c <= 9; ++c) {
        const auto code = static_cast<uint8_t>(c);
        Rig r;
        // An earlier exchange left bytes counted and its time-out spent: a link test on
        // COM16, out of discovery's way for now, answered by 17 bytes of noise.
        r.port.present = {16};
        r.link.ComOpen(16);
        r.link.ComSend(1, protocol::kCodeLinkTest, 0, 0, 0);
        r.port.inject(Bytes(17, 0x00));
        r.clock.advance(2500);
        ASSERT_EQ(r.s.rxcount, 17);
        ASSERT_FALSE(r.link.Timer_timeout().enabled());
        r.link.ComOpen(16);
        const std::size_t writes = r.port.writes.size();
        const int threshold = r.port.rThreshold();
        const uint8_t replylen = r.s.replylen;
        r.link.ComSend(1, code, 0, 3, 0);
        EXPECT_EQ(r.s.commstate, link::kCommAwaiting);
        EXPECT_EQ(r.s.rxcount, 0);
        EXPECT_TRUE(r.link.Timer_timeout().enabled());
        const bool known = code >= 1 && code <= 6;
        EXPECT_EQ(r.port.writes.size() - writes, known ? 1u : 0u) << int(code);
        // An unknown code sends nothing and leaves the expected length and threshold alone.
        EXPECT_EQ(r.port.rThreshold(), known ? int{r.s.replylen} : threshold) << int(code);
        if (!known) {
            EXPECT_EQ(r.s.replylen, replylen) << int(code);
        }
    }
}

TEST(SetView, DecidesWhatPollingAsksFor) {
    struct Case {
        const char* what;
        bool linked;
        link::View view;
        std::vector<uint8_t> polled;  // codes sent in the next 1.5 s
    };
    using link::View;
    const Case cases[] = {
        {"live", true, View::Live, {protocol::kCodeLive}},
        {"history", true, View::History, {protocol::kCodeLinkTest}},
        {"live before the link", false, View::Live, {}},
        {"history before the link", false, View::History, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        if (c.linked) r.linkUp();
        // The other view first: the set is applied in full whatever was showing.
        r.link.setView(c.view == View::Live ? View::History : View::Live);
        r.link.setView(c.view);
        EXPECT_EQ(r.s.realmode, c.view == View::Live);
        EXPECT_TRUE(r.link.Timer_real().enabled());  // also before the link: polling idles
        r.port.writes.clear();
        r.clock.advance(1500);
        std::vector<uint8_t> polled;
        for (const auto& w : r.port.writes) polled.push_back(CodeOf(w.bytes));
        EXPECT_EQ(polled, c.polled);
    }
}

TEST(Commands, ReadIsIgnoredInTheLiveViewAndBeforeTheLink) {
    struct Case {
        const char* what;
        bool linked;
        link::View view;
    };
    const Case cases[] = {
        {"live view", true, link::View::Live},
        {"history view before the link", false, link::View::History},
        {"live view before the link", false, link::View::Live},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        if (c.linked) r.linkUp();
        r.link.setView(c.view);
        const auto enabled = r.ui.enabled;
        r.link.requestDownload();
        EXPECT_EQ(r.ui.enabled, enabled);
        EXPECT_FALSE(r.link.Timer_read().enabled());
        EXPECT_TRUE(r.link.Timer_real().enabled());
        r.clock.advance(3000);
        for (const auto& w : r.port.writes) EXPECT_NE(CodeOf(w.bytes), protocol::kCodeCount);
    }
}

TEST(Commands, StopEndsEveryExchangeWhateverTheLinkIsDoing) {
    enum class Doing { Searching, Polling, StartingADownload, Downloading };
    const std::pair<const char*, Doing> cases[] = {
        {"searching", Doing::Searching},
        {"polling", Doing::Polling},
        {"about to ask for the count", Doing::StartingADownload},
        {"downloading", Doing::Downloading},
    };
    for (const auto& [what, doing] : cases) {
        SCOPED_TRACE(what);
        Rig r;
        r.port.present = {3};
        r.clock.advance(1300);  // discovery has tried COM1 and COM2
        if (doing != Doing::Searching) r.linkUp(200);
        if (doing == Doing::StartingADownload || doing == Doing::Downloading) {
            r.toHistoryView();
            r.link.requestDownload();
        }
        if (doing == Doing::Downloading) {
            r.clock.advance(100);
            ASSERT_FALSE(r.ui.fills.empty());
            ASSERT_LT(r.ui.rows.size(), 200u);
        }
        r.link.stop();
        EXPECT_FALSE(r.port.isOpen());
        for (const platform::Timer* t : {&r.link.Timer_findcom(), &r.link.Timer_real(),
                                         &r.link.Timer_read(), &r.link.Timer_timeout()}) {
            EXPECT_FALSE(t->enabled());
        }
        const auto writes = r.port.writes.size();
        const auto status = r.ui.linkStatus.size();
        const auto com = r.ui.comStatus.size();
        const auto fills = r.ui.fills.size();
        r.clock.advance(60000);
        EXPECT_EQ(r.port.writes.size(), writes);
        EXPECT_EQ(r.ui.linkStatus.size(), status);  // not even a time-out is reported
        EXPECT_EQ(r.ui.comStatus.size(), com);
        EXPECT_EQ(r.ui.fills.size(), fills);
    }
}

TEST(Download, SevenGroups) {
    Rig r;
    r.linkUp(7);
    r.toHistoryView();
    r.link.requestDownload();
    for (Control c : {Control::Button_read, Control::menuread, Control::Button_clear,
                      Control::TabStrip1, Control::menuhelp}) {
        EXPECT_FALSE(r.ui.isEnabled(c));
    }
    r.clock.advance(2000);
    EXPECT_EQ(r.blockRequests(), (std::vector<std::pair<int, int>>{{0, 3}, {3, 3}, {6, 1}}));
    EXPECT_EQ(r.ui.progress, (std::vector<int>{0, 3, 6, 7}));
    ASSERT_EQ(r.ui.rows.size(), 7u);
    for (int row = 1; row <= 7; ++row) EXPECT_EQ(r.ui.rows[row], storedGroup(row - 1));
    EXPECT_EQ(r.s.histcount, 7);
    EXPECT_EQ(r.s.blocksread, 0);
    EXPECT_FALSE(r.ui.isVisible(Control::Progress_read));
    EXPECT_TRUE(r.ui.isEnabled(Control::Button_read));
    EXPECT_TRUE(r.ui.isEnabled(Control::TabStrip1));
    EXPECT_TRUE(r.link.Timer_real().enabled());
}

// The line never waits while the window draws: each block request is written before the
// table is filled and the progress bar moved for the reply before it.
TEST(Download, NextRequestIsOnTheLineBeforeTheWindowDraws) {
    Rig r;
    r.linkUp(7);
    r.toHistoryView();
    std::vector<std::size_t> requestsWhenDrawn;
    r.ui.whileDrawing = [&] { requestsWhenDrawn.push_back(r.blockRequests().size()); };
    r.link.requestDownload();
    r.clock.advance(2000);
    // Progress 0, then for each block: filled, progress; the last block asks for nothing more.
    EXPECT_EQ(requestsWhenDrawn, (std::vector<std::size_t>{1, 2, 2, 3, 3, 3, 3}));
    ASSERT_EQ(r.ui.rows.size(), 7u);
    for (int row = 1; row <= 7; ++row) EXPECT_EQ(r.ui.rows[row], storedGroup(row - 1));
}

TEST(Download, ShortBlockAloneEndsInTheTimeOutWithNothingMisplaced) {
    Rig r;
    r.linkUp(8);
    auto full = r.port.responder;
    r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
        // 54 of 78 bytes.
        if (BlockOf(req) == std::pair{3, 3}) return {reply(1, blockPayload(3, 2))};
        return full(req);
    };
    r.toHistoryView();
    r.link.requestDownload();
    r.clock.advance(2000);
    EXPECT_EQ(r.ui.rows.size(), 3u);
    r.clock.advance(1000);
    EXPECT_EQ(r.ui.linkStatus.back(), "通讯失败");
    EXPECT_EQ(r.ui.rows.size(), 3u);
    EXPECT_EQ(r.blockRequests().size(), 2u);
    EXPECT_TRUE(r.ui.isEnabled(Control::TabStrip1));
}

TEST(Download, ShortBlockLosesNothing) {
    Rig r;
    r.linkUp(8);
    auto full = r.port.responder;
    int blocks = 0;
    r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
        if (BlockOf(req) && ++blocks == 1) return {pad(reply(1, blockPayload(0, 2)), 78)};
        return full(req);
    };
    r.toHistoryView();
    r.link.requestDownload();
    r.clock.advance(2000);
    EXPECT_EQ(r.blockRequests(), (std::vector<std::pair<int, int>>{{0, 3}, {2, 3}, {5, 3}}));
    ASSERT_EQ(r.ui.rows.size(), 8u);
    for (int row = 1; row <= 8; ++row) EXPECT_EQ(r.ui.rows[row], storedGroup(row - 1));
}

TEST(Download, GroupThatDoesNotDecodeEndsItsBlockAndTheDownloadGoesOn) {
    Rig r;
    r.linkUp(7);
    auto full = r.port.responder;
    r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
        if (BlockOf(req) == std::pair{0, 3}) {
            Bytes payload = blockPayload(0, 3);
            payload[24 + 2] = 0x80;  // group 1's B1B2 angle word cannot be represented
            return {reply(1, payload)};
        }
        return full(req);
    };
    r.toHistoryView();
    r.link.requestDownload();
    r.clock.advance(2000);
    EXPECT_EQ(r.ui.fills.front(), (std::pair{0, 1}));  // only the group before it
    EXPECT_EQ(r.blockRequests(), (std::vector<std::pair<int, int>>{{0, 3}, {3, 3}, {6, 1}}));
    std::vector<int> rows;
    for (const auto& [row, group] : r.ui.rows) {
        rows.push_back(row);
        EXPECT_EQ(group, storedGroup(row - 1)) << row;
    }
    EXPECT_EQ(rows, (std::vector<int>{1, 4, 5, 6, 7}));
    EXPECT_TRUE(r.link.Timer_real().enabled());
    EXPECT_TRUE(r.ui.isEnabled(Control::TabStrip1));
}

TEST(Download, EmptyOrPartialGroupsEndTheDownloadAsAFailure) {
    Rig r;
    r.linkUp(7);
    auto full = r.port.responder;
    r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
        // No whole group.
        if (BlockOf(req) == std::pair{3, 3}) return {pad(reply(1, Bytes(23, 0)), 78)};
        return full(req);
    };
    r.toHistoryView();
    r.link.requestDownload();
    r.clock.advance(1000);
    EXPECT_EQ(r.blockRequests().size(), 2u);
    EXPECT_EQ(r.ui.rows.size(), 3u);
    EXPECT_EQ(r.ui.linkStatus.back(), "通讯失败");
    EXPECT_FALSE(r.ui.isVisible(Control::Progress_read));
    EXPECT_TRUE(r.ui.isEnabled(Control::TabStrip1));
    EXPECT_EQ(r.s.blocksread, 0);
}

TEST(Download, CountBeyondTheTableFetchesTheFirst200Once) {
    for (Bytes count : {Bytes{0x01, 0x2C}, Bytes{0x80, 0x01}, Bytes{0xFF, 0xFF}}) {
        Rig r;
        r.linkUp(400);
        auto full = r.port.responder;
        r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
            if (CodeOf(req) == protocol::kCodeCount) return {reply(2, count)};
            return full(req);
        };
        r.toHistoryView();
        r.link.requestDownload();
        r.clock.advance(20000);
        const auto reqs = r.blockRequests();
        ASSERT_EQ(reqs.size(), 67u);
        EXPECT_EQ(reqs.back(), (std::pair<int, int>{198, 2}));
        ASSERT_EQ(r.ui.rows.size(), 200u);
        EXPECT_EQ(r.ui.rows.rbegin()->first, 200);
        for (int row = 1; row <= 200; ++row) ASSERT_EQ(r.ui.rows[row], storedGroup(row - 1));
        EXPECT_EQ(r.ui.progressMax, 200);
        EXPECT_EQ(r.ui.progress.back(), 200);
        EXPECT_GT(r.s.histcount, 200);
        EXPECT_TRUE(r.ui.isEnabled(Control::TabStrip1));
    }
}

TEST(Download, LateBlockAfterTheTimeOutLandsNowhere) {
    Rig r;
    r.linkUp(7);
    auto full = r.port.responder;
    r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
        if (BlockOf(req) == std::pair{3, 3}) {
            r.port.injectLater(full(req)[0], 3000);  // after the time-out, port still open
            return {};
        }
        return full(req);
    };
    r.toHistoryView();
    r.link.requestDownload();
    r.clock.advance(300);
    ASSERT_EQ(r.ui.rows.size(), 3u);
    r.clock.advance(2350);
    EXPECT_EQ(r.ui.linkStatus.back(), "通讯失败");
    r.clock.advance(500);
    EXPECT_EQ(r.ui.linkStatus.back(), "通讯成功");  // the late block did arrive
    EXPECT_EQ(r.ui.fills.size(), 1u);  // the late block did not land in rows 1..3 again
    EXPECT_EQ(r.blockRequests().size(), 2u);
}

// The window sets its controls from nothing but these phases, so each way the link goes must
// report each phase it passes, in order, and no other.
TEST(Phases, EachWayTheLinkGoesReportsItsPhasesInOrder) {
    using enum link::Phase;
    struct Case {
        const char* what;
        int stored;
        link::View view;
        uint8_t unanswered;  // a code the instrument never answers (0: none)
        std::vector<link::Phase> phases;
    };
    const Case cases[] = {
        {"a download",
         7,
         link::View::History,
         0,
         {Searching, Linked, DownloadAsked, Downloading, DownloadEnded}},
        {"nothing stored",
         0,
         link::View::History,
         0,
         {Searching, Linked, DownloadAsked, DownloadEnded}},
        {"the count never comes",
         7,
         link::View::History,
         protocol::kCodeCount,
         {Searching, Linked, DownloadAsked, TimedOut}},
        {"a block never comes",
         7,
         link::View::History,
         protocol::kCodeHistory,
         {Searching, Linked, DownloadAsked, Downloading, TimedOut}},
        {"read refused in the live view", 7, link::View::Live, 0, {Searching, Linked}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        r.linkUp(c.stored);
        auto full = r.port.responder;
        r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
            if (CodeOf(req) == c.unanswered) return {};
            return full(req);
        };
        r.link.setView(c.view);
        r.link.requestDownload();
        r.clock.advance(5000);
        EXPECT_EQ(r.ui.phases, c.phases);
        EXPECT_FALSE(r.link.downloading());
    }
}

TEST(Download, ZeroGroupsShowsTheMessageThenPollingResumes) {
    Rig r;
    r.linkUp(0);
    r.toHistoryView();
    bool realWhileOpen = true;
    r.ui.whileMessageOpen = [&] { realWhileOpen = r.link.Timer_real().enabled(); };
    r.link.requestDownload();
    r.clock.advance(100);
    ASSERT_EQ(r.ui.noHistoryBoxes, 1);
    EXPECT_FALSE(realWhileOpen);
    EXPECT_TRUE(r.link.Timer_real().enabled());
    EXPECT_TRUE(r.blockRequests().empty());
    EXPECT_TRUE(r.ui.isEnabled(Control::Button_read));
}

// downloading() covers the whole download, from the read command to its end, whichever way
// it ends, and no longer.
TEST(Download, DownloadingLastsFromTheReadCommandToEveryKindOfEnd) {
    enum class End { Complete, NoGroups, Silence, EmptyBlock, Stop };
    struct Case {
        const char* what;
        int stored;
        End end;
    };
    const Case cases[] = {
        {"all groups read", 7, End::Complete},
        {"no groups stored", 0, End::NoGroups},
        {"the instrument falls silent", 7, End::Silence},
        {"a block without a group", 7, End::EmptyBlock},
        {"the close command", 7, End::Stop},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        r.linkUp(c.stored);
        EXPECT_FALSE(r.link.downloading());
        auto full = r.port.responder;
        r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
            if (BlockOf(req) == std::pair{3, 3}) {
                if (c.end == End::Silence) return {};
                if (c.end == End::EmptyBlock) return {pad(reply(1, Bytes(23, 0)), 78)};
            }
            return full(req);
        };
        r.link.requestDownload();  // live view: refused
        EXPECT_FALSE(r.link.downloading());
        r.toHistoryView();
        r.link.requestDownload();
        EXPECT_TRUE(r.link.downloading());
        EXPECT_FALSE(r.ui.isEnabled(Control::menuports));  // the pins stay as they are
        r.clock.advance(31);                               // the count has been asked for
        if (c.end == End::Stop) {
            EXPECT_TRUE(r.link.downloading());
            r.link.stop();
        }
        r.clock.advance(5000);
        EXPECT_FALSE(r.link.downloading());
        if (c.end != End::Stop) {
            EXPECT_TRUE(r.ui.isEnabled(Control::menuports));
        }
    }
}

TEST(Download, CountReplyOfAnotherLengthStartsNothing) {
    Rig r;
    r.linkUp(5);
    r.toHistoryView();
    r.link.requestDownload();
    r.clock.advance(2000);
    ASSERT_EQ(r.s.histcount, 5);  // from an earlier download
    auto full = r.port.responder;
    r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
        if (CodeOf(req) == protocol::kCodeCount) return {reply(2, {0, 0, 7})};
        return full(req);
    };
    r.port.writes.clear();
    r.link.requestDownload();
    r.clock.advance(3000);
    EXPECT_EQ(r.s.histcount, 5);
    EXPECT_TRUE(r.blockRequests().empty());
    EXPECT_EQ(r.ui.linkStatus.back(), "通讯失败");
}

}  // namespace
}  // namespace ck::testing
